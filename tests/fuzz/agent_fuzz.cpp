// Fuzz entry points of the agent's parsers: the module's AT replies, the
// device-service frames and notifications, the cloud's replies, the NTP
// reply and the registry's ".values" text.
#include <string.h>

#include <string>

#include <apdu_writers.h>
#include <at_channel_bringup.h>
#include <bootstrap.h>
#include <clog.h>
#include <com_port_channel.h>
#include <mbn_device_service.h>
#include <module_commands.h>
#include <ntp_client.h>
#include <signed_requests.h>

#include "fuzz_input.h"
#include "mbn_frame.h"
#include "registry_store.h"

using hbr_fuzz::Text;

// The agent's log goes nowhere: a folder that does not exist.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    CLog::SetInstanceForTest(new CLog("/nonexistent/hbr-fuzz/"));
    return 0;
}

namespace {

// The replies of the module routines: IMEI, SIM slot, the "prov_iccid:" and
// "poc_usage_type:" reads and the sync reply of the AT channel's bring-up.
[[maybe_unused]] void FuzzModuleReply(const uint8_t *data, size_t size)
{
    std::string reply = Text(data, size);
    char out[64];
    ParseImeiResponse(reply.c_str(), out, sizeof out);
    ParseSimSlotResponse(reply.c_str(), out, sizeof out);
    for (const char *key : {"prov_iccid:", "poc_usage_type:"}) {
        const char *value = ValueAfterKey(reply.c_str(), key);
        if (value != nullptr) {
            LeadingDecimal(value, 2);
        }
    }
    ParseSyncReply(reply.c_str(), reply.size());
}

// The module's replies to AT+CGLA, AT+CCHO and AT+CCHC.
[[maybe_unused]] void FuzzChannelReply(const uint8_t *data, size_t size)
{
    std::string reply = Text(data, size);
    if (reply.size() >= AT_TRANSPORT_BUFFER_SIZE) {
        reply.resize(AT_TRANSPORT_BUFFER_SIZE - 1);
    }
    static char out[AT_TRANSPORT_BUFFER_SIZE];
    for (int mode : {CGLA_MODE_OPEN, CGLA_MODE_APDU, CGLA_MODE_CLOSE}) {
        memset(out, 0, sizeof out);
        lpa_cgla_mode = mode;
        cgla2csim(reply.c_str(), out);
    }
    CchoChannelText(reply.c_str());
    ResetApduWritersForTest();
}

// What the device service hands the agent: socket frames, event payloads
// (a byte array), notification texts, and device friendly names.
[[maybe_unused]] void FuzzDeviceService(const uint8_t *data, size_t size)
{
    const uint8_t *begin = data;
    const uint8_t *end = data + size;
    for (int frames = 0; frames < 16 && begin < end; ++frames) {
        hbr::mbn::Message message;
        size_t used = 0;
        if (hbr::mbn::DecodeFrame(begin, end, &message, &used) != hbr::mbn::Decode::Ok || used == 0) {
            break;
        }
        begin += used;
    }
    SAFEARRAY *array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(size));
    if (array != nullptr) {
        if (size > 0) {
            memcpy(array->pvData, data, size);
        }
        std::string text;
        SafeArrayToString(array, &text);
        SafeArrayDestroy(array);
        IotServiceRequest request;
        IotServiceRequestOfText(text, &request);
    }
    PortNameFromFriendlyName(Text(data, size));
}

// The cloud's bootstrap reply with its APN texts and the two APN matchers.
[[maybe_unused]] void FuzzBootstrapReply(const uint8_t *data, size_t size)
{
    std::string reply = Text(data, size);
    IotServiceFlowContext context;
    HBRAgentBootstrapQueryResp(&reply[0], 1, reply.size(), &context);
    for (int i = 0; i < IotServiceFlowContext::kApnCount; ++i) {
        zfw_pciot_bootstrap_prase_apns_info(context.apns, i);
    }
    ApnInfo apn;
    MatchAttachedApnInfo(context.apns, "8900000000000000001", &apn);
    MatchInternetApnInfo(context.apns, "8900000000000000001", &apn);
}

// The replies of the signed requests.
[[maybe_unused]] void FuzzSignedReply(const uint8_t *data, size_t size)
{
    std::string reply = Text(data, size);
    IotServiceFlowContext context;
    ProfileOperCodeQueryResp(&reply[0], 1, reply.size(), &context);
    SyncDeviceProfileStatusResp(&reply[0], 1, reply.size(), &context);
}

[[maybe_unused]] void FuzzNtpReply(const uint8_t *data, size_t size)
{
    NtpReplyUtcTime(data, size);
}

[[maybe_unused]] void FuzzRegistryValues(const uint8_t *data, size_t size)
{
    std::string text = Text(data, size);
    hbr::ValuesFile values;
    hbr::ParseValuesText(text, &values);
    hbr::DecodeValueName(text.substr(0, text.find(' ')));
}

}  // namespace

HBR_FUZZ_DEFINE_ENTRY()
