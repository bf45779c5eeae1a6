// The module's AT command routines and the records they exchange. Every
// routine sends one command over the AT channel, logs its steps and
// returns 1 or 0; they run on the worker thread, one at a time.
#ifndef HBR_AGENT_MODULE_COMMANDS_H
#define HBR_AGENT_MODULE_COMMANDS_H

#include <cstddef>
#include <cstdint>

// One APN setting for the module. The record is 234 bytes; every clear uses
// sizeof(ApnInfo).
struct ApnInfo {
    char apn_name[102];  // at most 101 characters, NUL-terminated
    uint8_t pdp_type;    // 0 not given, 1 "IPV4", 2 "IPV6", 3 "IPV4V6"
    uint8_t auth_type;   // 0 not given, 1 "PAP", 2 "CHAP"
    char username[65];   // at most 64 characters, NUL-terminated
    char password[65];   // at most 64 characters, NUL-terminated
};
static_assert(sizeof(ApnInfo) == 234, "ApnInfo is 234 bytes");

// Text outputs take a buffer and its capacity; a value that does not fit
// gives 0 (the IMEI and slot outputs are then empty, appended outputs are
// unchanged).
int GetModuleIMEI(char *imei, size_t capacity);
int GetModuleSimSlot(char *slot, size_t capacity);
int SetModuleSimSlot(int slot);
int SendDataUsageTypeToModule(int first, int second);
int GeteSIMProfileIccid(char *iccid, size_t capacity); // appends
int SyncNVProfileList();
int SendApnInfoToModule(int kind, const ApnInfo *apn);  // kind 4 attach, 5 internet
int TryCloseeSIMLogicalChannel(int channel);
int HbrAgentCXPOperationKX718Project(int value);
int HbrAgentSendPCTPOCCmdKX718Project(char *reply, size_t capacity);
// 1 when the module's poc_usage_type is 1 or 2 (a deactivation is needed),
// 0 when it answered anything else, -1 when it never answered "OK"; up to
// 5 queries, 3 s apart.
int CheckDPDDeactiveFlowNeedTriggerKX718Project();

// Reply parsers. Both clear their output first and need "OK" in the reply.
int ParseImeiResponse(const char *reply, char *imei, size_t capacity);
int ParseSimSlotResponse(const char *reply, char *slot, size_t capacity);

// True when the reply holds "OK" anywhere.
bool ReplyHasOk(const char *reply);
// The text after `key` and the blanks behind it, or null without the key.
const char *ValueAfterKey(const char *reply, const char *key);
// The value of the leading decimal digits of `text` (none gives 0). Stops
// accumulating once the value exceeds `limit`, so any larger number reads
// as a value above `limit`.
unsigned LeadingDecimal(const char *text, unsigned limit);

// One command and its reply, the common exchange of the routines.
enum AtExchangeResult { AT_SEND_FAILED, AT_RECEIVE_FAILED, AT_REPLY_NO_OK, AT_REPLY_OK };
constexpr size_t kAtReplySize = 1025;
// Sends `command` (its strlen), then receives into `reply` (zeroed first,
// capacity kAtReplySize - 1, so the text always ends in a NUL).
AtExchangeResult ExchangeAtCommand(const char *command, char (&reply)[kAtReplySize]);

#endif
