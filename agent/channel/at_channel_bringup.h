// The AT channel bring-up's synchronisation request to Intel-based modules.
#ifndef HBR_AGENT_AT_CHANNEL_BRINGUP_H
#define HBR_AGENT_AT_CHANNEL_BRINGUP_H

#include <cstddef>
#include <cstdint>

// Results of the synchronisation request.
enum {
    DPD_RETRY_STATUS = 0,
    DPD_DONE_STATUS = 1,
    DPD_READY_STATUS = 2,
    DPD_NOT_READY_STATUS = 3,
};

// What a reply to "AT+GTPCTPOC=6" says.
struct SyncReply {
    bool ok = false;          // "OK" anywhere in the reply
    int result = DPD_RETRY_STATUS;
    bool activeRequest = false;   // with DPD_READY_STATUS: "+GTPCTPOC: ACTIVE"
    bool deactiveRequest = false; // with DPD_READY_STATUS: "+GTPCTPOC: DEACTIVE" (and no ACTIVE)
};

// Reads `length` bytes of a reply (up to its first zero byte). No I/O.
SyncReply ParseSyncReply(const char *reply, size_t length);

// Sends "AT+GTPCTPOC=6\r\n", reads the reply and raises the gated ACTIVE or
// DEACTIVE request it carries; returns the result.
int32_t TriggerAgent2ModuleSyncFlow();

#endif
