// The engine's AT transport: the AT response buffer and both writers.
// They run on the thread that drives the engine and log into lpa.log.
#include "apdu_writers.h"

#include "agent_alloc.h"
#include "at_channel.h"
#include "lpa_host.h"
#include "module_commands.h"
#include "state_work.h"

#include <cstdlib>
#include <cstring>

char read_mipc_buf[AT_TRANSPORT_BUFFER_SIZE];
int32_t lpa_cgla_port = 0;
int32_t lpa_cgla_mode = 0;

namespace {

constexpr size_t kReplyCapacity = AT_TRANSPORT_BUFFER_SIZE - 1;

// The three engine commands the MediaTek writer recognises (whole text).
const char kOpenCommand[] = "AT+CSIM=10,\"0070000001\"\r";
const char kSelectCommand[] = "AT+CSIM=44,\"01A4040010A0000005591010FFFFFFFF890000010000\"\r";
const char kCloseCommand[] = "AT+CSIM=10,\"0070800100\"\r";
const char kCchoCommand[] = "AT+CCHO=\"A0000005591010FFFFFFFF8900000100\"\r";
const char kCchoAnswer[] = "+CCHO:";

// Canned answers: the channel open, the ISD-R's answer to its SELECT, the
// close, and a refused open.
const char kOpenReply[] = "+CSIM: 6,\"019000\"\rOK";
const char kSelectReply[] =
    "+CSIM: 240,\"6F748410A0000005591010FFFFFFFF8900000100A559734A06072A864886FC6B01600B06092A864886FC6B020202630906"
    "072A864886FC6B03650D060B2A864886FC6B05040200006618060A2B060104012A026E0103060A535433334A324D3002009F6E0600771127"
    "01269F6501FFE00582030202029000\"\rOK";
const char kCloseReply[] = "+CSIM: 4,\"9000\"\rOK";
const char kOpenFailedReply[] = "\r\nERROR\r\n\r\n";
const char kCglaTag[] = "+CGLA:";

static_assert(sizeof(kSelectReply) - 1 == 256, "the SELECT answer is 256 characters");
static_assert(sizeof(kOpenReply) - 1 == 20, "the open answer is 20 characters");
static_assert(sizeof(kCloseReply) - 1 == 18, "the close answer is 18 characters");

// A reply for the engine, written over a cleared buffer (canned answers
// included: a failed earlier write may have left text there).
void StoreReply(const char *text)
{
    std::memset(read_mipc_buf, 0, sizeof read_mipc_buf);
    std::memcpy(read_mipc_buf, text, std::strlen(text));
}

// The last occurrence of `tag` in `text`, or null.
const char *FindLast(const char *text, const char *tag)
{
    const char *last = nullptr;
    for (const char *at = std::strstr(text, tag); at != nullptr; at = std::strstr(at + 1, tag)) {
        last = at;
    }
    return last;
}

// Appends `text` to the NUL-terminated `out` of `capacity` bytes, cutting it.
void Append(char *out, size_t capacity, const char *text)
{
    size_t used = strnlen(out, capacity);
    if (used + 1 >= capacity) {
        return;
    }
    size_t n = strnlen(text, capacity - used - 1);
    std::memcpy(out + used, text, n);
    out[used + n] = '\0';
}

void RewriteOpenReply(const char *reply, char *out)
{
    if (!ReplyHasOk(reply)) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "open channel cmd fail:%s\n", reply);
        Append(out, AT_TRANSPORT_BUFFER_SIZE, kOpenFailedReply);
        return;
    }
    std::string portText = CchoChannelText(reply);
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "portStr:%s\n", portText.c_str());
    unsigned channel = LeadingDecimal(portText.c_str(), 9);
    if (channel > 9) {
        // One character cannot name this channel: the open failed.
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "open channel cmd fail:%s\n", reply);
        Append(out, AT_TRANSPORT_BUFFER_SIZE, kOpenFailedReply);
        return;
    }
    lpa_cgla_port = '0' + static_cast<int32_t>(channel);
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "lpa_cgla_port:%d\n", static_cast<int>(lpa_cgla_port));
    Append(out, AT_TRANSPORT_BUFFER_SIZE, kSelectReply);
}

// The logical-channel command for `command` into `out` (`capacity` bytes),
// and the mode of its reply.
int32_t BuildChannelCommand(const char *command, size_t length, char *out, size_t capacity)
{
    char channel = static_cast<char>(lpa_cgla_port & 0xFF);
    if (std::strcmp(command, kSelectCommand) == 0) {
        std::snprintf(out, capacity, "%s", kCchoCommand);
        return CGLA_MODE_OPEN;
    }
    if (std::strcmp(command, kCloseCommand) == 0) {
        std::snprintf(out, capacity, "AT+CCHC=%c\r", channel);
        return CGLA_MODE_CLOSE;
    }
    // "AT+CGLA=" and the channel replace the leading "AT+CSIM=" (no channel
    // while none is held); a command shorter than that has an empty tail.
    size_t textLength = strnlen(command, length);
    const char *tail = textLength >= 8 ? command + 8 : "";
    int tailLength = static_cast<int>(textLength >= 8 ? textLength - 8 : 0);
    if (channel != '\0') {
        std::snprintf(out, capacity, "AT+CGLA=%c,%.*s", channel, tailLength, tail);
    } else {
        std::snprintf(out, capacity, "AT+CGLA=%.*s", tailLength, tail);
    }
    return CGLA_MODE_APDU;
}

} // namespace

std::string CchoChannelText(const char *reply)
{
    const char *start = reply;
    const char *echo = std::strstr(reply, kCchoCommand);
    if (echo != nullptr) {
        start = echo + std::strlen(kCchoCommand);
    }
    // Line ends and unsolicited result codes ("+CREG: 1", "^MODE: 3") that
    // the module sent ahead of the channel number are not part of it. A
    // module that names its answer ("+CCHO: 1") gives the number behind the
    // name.
    bool named = false;
    for (;;) {
        start += std::strspn(start, "\r\n");
        if (std::strncmp(start, kCchoAnswer, sizeof kCchoAnswer - 1) == 0) {
            start += sizeof kCchoAnswer - 1;
            start += std::strspn(start, " ");
            named = true;
            break;
        }
        if (*start != '+' && *start != '^') {
            break;
        }
        start += std::strcspn(start, "\r\n");
    }
    if (echo != nullptr && !named) {
        while (*start != '\0' && (*start < '0' || *start > '9')) {
            ++start;
        }
    }
    const char *end = std::strchr(start, '\r');
    return end != nullptr ? std::string(start, end) : std::string(start);
}

void cgla2csim(const char *reply, char *out)
{
    switch (lpa_cgla_mode) {
    case CGLA_MODE_OPEN:
        RewriteOpenReply(reply, out);
        lpa_cgla_mode = CGLA_MODE_APDU;
        break;
    case CGLA_MODE_CLOSE:
        Append(out, AT_TRANSPORT_BUFFER_SIZE, kCloseReply);
        lpa_cgla_mode = CGLA_MODE_APDU;
        lpa_cgla_port = 0;
        break;
    default: {
        Append(out, AT_TRANSPORT_BUFFER_SIZE, "+CSIM:");
        const char *last = FindLast(reply, kCglaTag);
        if (last != nullptr) {
            Append(out, AT_TRANSPORT_BUFFER_SIZE, last + std::strlen(kCglaTag));
        } else {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "cgla response not find:%s\n", kCglaTag);
        }
        break;
    }
    }
}

void ResetApduWritersForTest()
{
    lpa_cgla_port = 0;
    lpa_cgla_mode = 0;
    std::memset(read_mipc_buf, 0, sizeof read_mipc_buf);
}

extern "C" int32_t quorpciot_lpa_plat_type(void)
{
    return CStateWork::GetInstance()->m_platType.load();
}

extern "C" int64_t quorpciot_lpa_write_intel(int32_t, const char *command, size_t length)
{
    uint32_t requestId = 0;
    if (!SendATCmd(command, static_cast<uint32_t>(length), &requestId)) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "[LPA LIB]: [error][%s:%d]SendATCmd fail \n", __func__, __LINE__);
        return -1;
    }
    std::memset(read_mipc_buf, 0, sizeof read_mipc_buf);
    size_t received = 0;
    if (!ReceiveAtResponse(read_mipc_buf, kReplyCapacity, &received, requestId)) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "[LPA LIB]: [error]ReceiveAtResponse fail\n");
        return -1;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "[LPA LIB]: [info]t_csim_rsp:%s\n", read_mipc_buf);
    return static_cast<int64_t>(length);
}

extern "C" int64_t quorpciot_lpa_write_mtk(int32_t, const char *command, size_t length)
{
    if (std::strcmp(command, kOpenCommand) == 0) {
        StoreReply(kOpenReply);
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "OPEN1 read_mipc_buf:%s\n", read_mipc_buf);
        return static_cast<int64_t>(length);
    }
    if (std::strcmp(command, kCloseCommand) == 0 && lpa_cgla_port == 0) {
        // No channel is held (the open was refused): there is nothing to
        // close, and a bare "AT+CCHC=" would corrupt the next command.
        StoreReply(kCloseReply);
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "[LPA LIB]: [info]t_csim_rsp:%s\n", read_mipc_buf);
        return static_cast<int64_t>(length);
    }

    size_t cglaCapacity = length + 10;
    char *cgla = static_cast<char *>(AgentCalloc(cglaCapacity, 1));
    if (cgla == nullptr) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "[LPA LIB]: [error][%s:%d]-t_cgla_cmd malloc failed \n", __func__, __LINE__);
        return 0;
    }
    lpa_cgla_mode = BuildChannelCommand(command, length, cgla, cglaCapacity);
    size_t cglaLength = std::strlen(cgla);
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "[LPA LIB]: [info]-csim2cgla csim cmd is %s \n", command);
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "[LPA LIB]: [info]-csim2cgla csim cmd len=%d \n", static_cast<int>(length));
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "[LPA LIB]: [info]-csim2cgla cgla cmd is %s \n", cgla);
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "[LPA LIB]: [info]-csim2cgla cgla cmd len=%d \n", static_cast<int>(cglaLength));

    uint32_t requestId = 0;
    BOOL sent = SendATCmd(cgla, static_cast<uint32_t>(cglaLength), &requestId);
    std::free(cgla);
    if (!sent) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "[LPA LIB]: [error][%s:%d]SendATCmd fail \n", __func__, __LINE__);
        return -1;
    }
    char reply[AT_TRANSPORT_BUFFER_SIZE] = {};
    size_t received = 0;
    if (!ReceiveAtResponse(reply, kReplyCapacity, &received, requestId)) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "[LPA LIB]: [error]ReceiveAtResponse fail\n");
        return -1;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "[LPA LIB]: [info]t_cgla_rsp:%s\n", reply);

    char *csim = static_cast<char *>(AgentCalloc(AT_TRANSPORT_BUFFER_SIZE, 1));
    if (csim == nullptr) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "[LPA LIB]: [error]t_csim_rsp malloc failed \n");
        return 0;
    }
    cgla2csim(reply, csim);
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "[LPA LIB]: [info]t_csim_rsp:%s\n", csim);
    StoreReply(csim);
    std::free(csim);
    return static_cast<int64_t>(length);
}
