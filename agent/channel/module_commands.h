// The module's AT command routines and the records they exchange.
#ifndef HBR_AGENT_MODULE_COMMANDS_H
#define HBR_AGENT_MODULE_COMMANDS_H

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

#endif
