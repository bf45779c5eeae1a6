// AT commands to the module: one command out, its reply back, over the
// channel type chosen in the registry (0: the Mobile Broadband device
// service, 1: the module's AT COM port).
#ifndef HBR_AGENT_AT_CHANNEL_H
#define HBR_AGENT_AT_CHANNEL_H

#include <windows.h>

#include <cstddef>
#include <cstdint>

// Sends `length` bytes of `command`. On the device service the request id
// is the platform's; on the COM port it is always 0.
BOOL SendATCmd(const char *command, uint32_t length, uint32_t *requestId);

// Copies at most `capacity` bytes of the reply to `requestId` into `buffer`
// and sets `length`. Writes no terminating zero: callers zero their buffer
// and pass a capacity one less than its size.
BOOL ReceiveAtResponse(char *buffer, size_t capacity, size_t *length, uint32_t requestId);

// Test only: when installed, SendATCmd and ReceiveAtResponse call these
// instead of the channel (null restores the channel).
struct AtTransportHooks {
    BOOL (*send)(void *context, const char *command, uint32_t length, uint32_t *requestId);
    BOOL (*receive)(void *context, char *buffer, size_t capacity, size_t *length, uint32_t requestId);
    void *context;
};
void SetAtTransportHooksForTest(const AtTransportHooks *hooks);

#endif
