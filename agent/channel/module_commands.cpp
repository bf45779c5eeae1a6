// The module's AT command routines. Each logs its own texts with its own
// arguments around the one common exchange.
#include "module_commands.h"

#include "at_channel.h"
#include "clog.h"
#include "state_work.h"

#include <cstdio>
#include <cstring>

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

const char *SkipBlanks(const char *p)
{
    while (IsBlank(*p)) {
        ++p;
    }
    return p;
}

int32_t PlatformType()
{
    return CStateWork::GetInstance()->m_platType.load();
}

// Copies `length` characters of `from` into `out` (`capacity` bytes) with
// a NUL; false when they do not fit.
bool CopyBounded(char *out, size_t capacity, const char *from, size_t length)
{
    if (length >= capacity) {
        return false;
    }
    std::memcpy(out, from, length);
    out[length] = '\0';
    return true;
}

void Clear(char *out, size_t capacity)
{
    if (capacity > 0) {
        std::memset(out, 0, capacity);
    }
}

} // namespace

bool ReplyHasOk(const char *reply)
{
    return std::strstr(reply, "OK") != nullptr;
}

const char *ValueAfterKey(const char *reply, const char *key)
{
    const char *at = std::strstr(reply, key);
    return at == nullptr ? nullptr : SkipBlanks(at + std::strlen(key));
}

unsigned LeadingDecimal(const char *text, unsigned limit)
{
    unsigned value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        if (value <= limit) {
            value = value * 10 + static_cast<unsigned>(*text - '0');
        }
    }
    return value;
}

AtExchangeResult ExchangeAtCommand(const char *command, char (&reply)[kAtReplySize])
{
    uint32_t requestId = 0;
    if (!SendATCmd(command, static_cast<uint32_t>(std::strlen(command)), &requestId)) {
        return AT_SEND_FAILED;
    }
    std::memset(reply, 0, sizeof reply);
    size_t received = 0;
    if (!ReceiveAtResponse(reply, sizeof reply - 1, &received, requestId)) {
        return AT_RECEIVE_FAILED;
    }
    return ReplyHasOk(reply) ? AT_REPLY_OK : AT_REPLY_NO_OK;
}

int ParseImeiResponse(const char *reply, char *imei, size_t capacity)
{
    Clear(imei, capacity);
    if (!ReplyHasOk(reply)) {
        return 0;
    }
    const char *tag = ValueAfterKey(reply, "+CGSN:");
    if (tag == nullptr) {
        return 0;
    }
    const char *open = std::strchr(tag, '"');
    const char *close = std::strrchr(reply, '"');
    if (open == nullptr || close <= open) {
        return 0;
    }
    if (!CopyBounded(imei, capacity, open + 1, static_cast<size_t>(close - open - 1))) {
        Clear(imei, capacity);
        return 0;
    }
    HBR_LOG_INFO("[Infomation]imei(%s)", imei);
    return 1;
}

int ParseSimSlotResponse(const char *reply, char *slot, size_t capacity)
{
    Clear(slot, capacity);
    if (!ReplyHasOk(reply)) {
        return 0;
    }
    const char *p = ValueAfterKey(reply, "+GTDUALSIM");
    if (p == nullptr) {
        return 0;
    }
    if (*p != '\0') {
        p = SkipBlanks(p + 1); // the colon
    }
    const char *comma = std::strchr(p, ',');
    size_t length = comma != nullptr ? static_cast<size_t>(comma - p) : std::strlen(p);
    return CopyBounded(slot, capacity, p, length) ? 1 : 0;
}

int GetModuleIMEI(char *imei, size_t capacity)
{
    char reply[kAtReplySize];
    switch (ExchangeAtCommand("AT+CGSN?\r\n", reply)) {
    case AT_SEND_FAILED:
        HBR_LOG_INFO("[Infomation]Send Get Module IMEI AT Cmd Fail");
        return 0;
    case AT_RECEIVE_FAILED:
        HBR_LOG_INFO("[Infomation]Get Module IMEI Fail");
        return 0;
    default:
        HBR_LOG_INFO("[Infomation]Get Module IMEI Success(%s)", reply);
        return ParseImeiResponse(reply, imei, capacity);
    }
}

int GetModuleSimSlot(char *slot, size_t capacity)
{
    char reply[kAtReplySize];
    switch (ExchangeAtCommand("AT+GTDUALSIM?\r\n", reply)) {
    case AT_SEND_FAILED:
        HBR_LOG_INFO("[Infomation]Send Get Module SIM Slot AT Cmd Fail");
        return 0;
    case AT_RECEIVE_FAILED:
        HBR_LOG_INFO("[Infomation]Get Module SIM Slot Fail");
        return 0;
    default:
        HBR_LOG_INFO("[Infomation]Get Module SIM Slot Success(%s)", reply);
        return ParseSimSlotResponse(reply, slot, capacity);
    }
}

int SetModuleSimSlot(int slot)
{
    char command[kAtReplySize] = {};
    if (PlatformType() == 0) {
        std::snprintf(command, sizeof command, "%s", slot == 0 ? "AT+ESIMMAP=1\r\n" : "AT+ESIMMAP=2\r\n");
    } else {
        std::snprintf(command, sizeof command, "AT+GTDUALSIM=%d\r\n", slot);
    }
    char reply[kAtReplySize];
    AtExchangeResult result = ExchangeAtCommand(command, reply);
    switch (result) {
    case AT_SEND_FAILED:
        HBR_LOG_INFO("[Infomation]Send Set Module SIM Slot(%d) AT Cmd Fail", slot);
        return 0;
    case AT_RECEIVE_FAILED:
        HBR_LOG_INFO("[Infomation]Set Module SIM Slot(%d) Fail", slot);
        return 0;
    default:
        break;
    }
    HBR_LOG_INFO("[Infomation]Set Module SIM Slot(%d) Success", slot);
    if (result != AT_REPLY_OK) {
        HBR_LOG_INFO("[Infomation]Set Module SIM Slot(%d), module return Error", slot);
        return 0;
    }
    HBR_LOG_INFO("[Infomation]Set Module SIM Slot(%d), module return OK", slot);
    return 1;
}

int SendDataUsageTypeToModule(int first, int second)
{
    char command[kAtReplySize] = {};
    std::snprintf(command, sizeof command, "AT+GTPCTPOC=%d,%d\r\n", first, second);
    char reply[kAtReplySize];
    AtExchangeResult result = ExchangeAtCommand(command, reply);
    switch (result) {
    case AT_SEND_FAILED:
        HBR_LOG_INFO("[Infomation]Send Data Usage Type To Module ATCmd Fail(%d,%d)", first, second);
        return 0;
    case AT_RECEIVE_FAILED:
        HBR_LOG_INFO("[Infomation]SendDataUsageTypeToModule Fail(%d,%d)", first, second);
        return 0;
    default:
        break;
    }
    HBR_LOG_INFO("[Infomation]SendDataUsageTypeToModule Success(%d,%d)", first, second);
    if (result != AT_REPLY_OK) {
        HBR_LOG_INFO("[Infomation]SendDataUsageTypeToModule module return Error(%d,%d)", first, second);
        return 0;
    }
    HBR_LOG_INFO("[Infomation]SendDataUsageTypeToModule module return OK(%d,%d)", first, second);
    return 1;
}

int GeteSIMProfileIccid(char *iccid, size_t capacity)
{
    char reply[kAtReplySize];
    switch (ExchangeAtCommand("AT+GTPCTPOC?\r\n", reply)) {
    case AT_SEND_FAILED:
        HBR_LOG_INFO("[Infomation]Send GeteSIMProfileIccid AT Cmd Fail");
        return 0;
    case AT_RECEIVE_FAILED:
        HBR_LOG_INFO("[Infomation]GeteSIMProfileIccid Fail");
        return 0;
    case AT_REPLY_NO_OK:
        HBR_LOG_INFO("[Infomation]GeteSIMProfileIccid Success:%s", reply);
        HBR_LOG_INFO("[Infomation]GeteSIMProfileIccid, module return Error");
        return 0;
    case AT_REPLY_OK:
        break;
    }
    HBR_LOG_INFO("[Infomation]GeteSIMProfileIccid Success:%s", reply);
    HBR_LOG_INFO("[Infomation]GeteSIMProfileIccid, module return OK");
    const char *value = ValueAfterKey(reply, "prov_iccid:");
    if (value == nullptr) {
        HBR_LOG_INFO("[Infomation]GeteSIMProfileIccid, module no return prov_iccid: key string");
        return 0;
    }
    size_t held = strnlen(iccid, capacity);
    size_t length = std::strcspn(value, "\r\n");
    if (held >= capacity || !CopyBounded(iccid + held, capacity - held, value, length)) {
        return 0;
    }
    return 1;
}

int SyncNVProfileList()
{
    const int request = 3;
    char command[kAtReplySize] = {};
    std::snprintf(command, sizeof command, "AT+GTPCTPOC=%d\r\n", request);
    char reply[kAtReplySize];
    AtExchangeResult result = ExchangeAtCommand(command, reply);
    switch (result) {
    case AT_SEND_FAILED:
        HBR_LOG_INFO("[Infomation]Send SyncNVProfileList AT Cmd Fail(%d)", request);
        return 0;
    case AT_RECEIVE_FAILED:
        HBR_LOG_INFO("[Infomation]Send SyncNVProfileList Fail(%d)", request);
        return 0;
    default:
        break;
    }
    HBR_LOG_INFO("[Infomation]Send SyncNVProfileList Success(%d)", request);
    if (result != AT_REPLY_OK) {
        HBR_LOG_INFO("[Infomation]Send SyncNVProfileList, module return Error(%d)", request);
        return 0;
    }
    HBR_LOG_INFO("[Infomation]Send SyncNVProfileList, module return OK(%d)", request);
    return 1;
}

int SendApnInfoToModule(int kind, const ApnInfo *apn)
{
    if (apn == nullptr) {
        HBR_LOG_INFO("[Infomation]SendApnInfoToModule AT Cmd Fail(%d)", kind);
        return 0;
    }
    // Precisions keep every read inside its field, terminated or not.
    char command[kAtReplySize] = {};
    std::snprintf(command, sizeof command, "AT+GTPCTPOC=%d,\"%.101s\",1,%d,%d,%d,\"%.64s\",\"%.64s\"\r\n", kind,
                  apn->apn_name, apn->pdp_type, apn->pdp_type, apn->auth_type, apn->username, apn->password);
    char reply[kAtReplySize];
    AtExchangeResult result = ExchangeAtCommand(command, reply);
    switch (result) {
    case AT_SEND_FAILED:
        HBR_LOG_INFO("[Infomation]SendApnInfoToModule AT Cmd Fail(%d)", kind);
        return 0;
    case AT_RECEIVE_FAILED:
        HBR_LOG_INFO("[Infomation]SendApnInfoToModule Fail(%d)", kind);
        return 0;
    default:
        break;
    }
    HBR_LOG_INFO("[Infomation]SendApnInfoToModule Success(%d)", kind);
    if (result != AT_REPLY_OK) {
        HBR_LOG_INFO("[Infomation]SendApnInfoToModule, module return Error(%d)", kind);
        return 0;
    }
    HBR_LOG_INFO("[Infomation]SendApnInfoToModule, module return OK(%d)", kind);
    return 1;
}

int TryCloseeSIMLogicalChannel(int channel)
{
    char command[kAtReplySize] = {};
    int32_t platform = PlatformType();
    if (platform == 0) {
        std::snprintf(command, sizeof command, "AT+CCHC=%d\r\n", channel);
    } else if (platform == 1) {
        std::snprintf(command, sizeof command, "AT+CSIM=10,\"007080%02d00\"\r\n", channel);
    } else {
        HBR_LOG_INFO("[Infomation]other plat, need to send close channel cmd");
        return 0;
    }
    HBR_LOG_INFO("[Infomation]TryCloseeSIMLogicalChannel buffer(%s)", command);
    char reply[kAtReplySize];
    AtExchangeResult result = ExchangeAtCommand(command, reply);
    switch (result) {
    case AT_SEND_FAILED:
        HBR_LOG_INFO("[Infomation]Send TryCloseeSIMLogicalChannel To Module ATCmd Fail");
        return 0;
    case AT_RECEIVE_FAILED:
        HBR_LOG_INFO("[Infomation]TryCloseeSIMLogicalChannel Fail");
        return 0;
    default:
        break;
    }
    HBR_LOG_INFO("[Infomation]TryCloseeSIMLogicalChannel Success");
    if (result != AT_REPLY_OK) {
        HBR_LOG_INFO("[Infomation]TryCloseeSIMLogicalChannel module return Error");
        return 0;
    }
    HBR_LOG_INFO("[Infomation]TryCloseeSIMLogicalChannel module return OK(%s)", reply);
    return 1;
}

int HbrAgentCXPOperationKX718Project(int value)
{
    char command[kAtReplySize] = {};
    std::snprintf(command, sizeof command, "AT+ESBP=5,\"SBP_MODEM_CXP\",%d\r\n", value);
    HBR_LOG_INFO("[Infomation]HbrAgentCXPOperationKX718Project buffer(%s)", command);
    char reply[kAtReplySize];
    AtExchangeResult result = ExchangeAtCommand(command, reply);
    switch (result) {
    case AT_SEND_FAILED:
        HBR_LOG_INFO("[Infomation]Send HbrAgentCXPOperationKX718Project To Module ATCmd Fail");
        return 0;
    case AT_RECEIVE_FAILED:
        HBR_LOG_INFO("[Infomation]HbrAgentCXPOperationKX718Project Fail");
        return 0;
    default:
        break;
    }
    HBR_LOG_INFO("[Infomation]HbrAgentCXPOperationKX718Project Success");
    if (result != AT_REPLY_OK) {
        HBR_LOG_INFO("[Infomation]HbrAgentCXPOperationKX718Project module return Error");
        return 0;
    }
    HBR_LOG_INFO("[Infomation]HbrAgentCXPOperationKX718Project module return OK(%s)", reply);
    return 1;
}

int HbrAgentSendPCTPOCCmdKX718Project(char *out, size_t capacity)
{
    const char command[] = "AT+GTPCTPOC?\r\n";
    HBR_LOG_INFO("[Infomation]HbrAgentSendPCTPOCCmdKX718Project buffer(%s)", command);
    char reply[kAtReplySize];
    AtExchangeResult result = ExchangeAtCommand(command, reply);
    switch (result) {
    case AT_SEND_FAILED:
        HBR_LOG_INFO("[Infomation]Send HbrAgentSendPCTPOCCmdKX718Project To Module ATCmd Fail");
        return 0;
    case AT_RECEIVE_FAILED:
        HBR_LOG_INFO("[Infomation]HbrAgentSendPCTPOCCmdKX718Project Fail");
        return 0;
    default:
        break;
    }
    HBR_LOG_INFO("[Infomation]HbrAgentSendPCTPOCCmdKX718Project Success");
    if (result != AT_REPLY_OK) {
        HBR_LOG_INFO("[Infomation]HbrAgentSendPCTPOCCmdKX718Project module return Error");
        return 0;
    }
    HBR_LOG_INFO("[Infomation]HbrAgentSendPCTPOCCmdKX718Project module return OK(%s)", reply);
    return CopyBounded(out, capacity, reply, std::strlen(reply)) ? 1 : 0;
}

int CheckDPDDeactiveFlowNeedTriggerKX718Project()
{
    char reply[kAtReplySize];
    for (int attempt = 0; attempt < 5; ++attempt) {
        std::memset(reply, 0, sizeof reply);
        if (HbrAgentSendPCTPOCCmdKX718Project(reply, sizeof reply) != 1) {
            Sleep(3000);
            continue;
        }
        HBR_LOG_INFO("[Infomation]HbrAgentSendPCTPOCCmdKX718Project success(%d)", attempt);
        const char *value = ValueAfterKey(reply, "poc_usage_type:");
        if (value == nullptr) {
            HBR_LOG_INFO("[Infomation]ParseDataUsageTypeValue, module no return poc_usage_type: key string");
            return 0;
        }
        unsigned type = LeadingDecimal(value, 9);
        return type == 1 || type == 2 ? 1 : 0;
    }
    HBR_LOG_INFO("[Infomation]CheckDPDDeactiveFlowNeedTriggerKX718Project FAIL");
    return -1;
}
