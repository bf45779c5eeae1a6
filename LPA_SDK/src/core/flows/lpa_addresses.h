/*
 * The eUICC's configured addresses: the default SM-DP+ address and the
 * root SM-DS address, read and set through ES10a.
 *
 * Not thread-safe: the engine is driven from one thread at a time.
 */
#ifndef LPA_ADDRESSES_H
#define LPA_ADDRESSES_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "lpa.h"

#ifdef __cplusplus
extern "C" {
#endif

#define LPA_CONFIGURED_ADDRESSES_MAX 384
#define LPA_DEFAULT_SMDP_ADDRESS_MAX 127

typedef struct LpaConfiguredAddresses {
    uint8_t raw[LPA_CONFIGURED_ADDRESSES_MAX];
    size_t length;
} LpaConfiguredAddresses;

bool _getEUICCconfiguredAddresses(LpaConfiguredAddresses *addresses);
bool lpaManagerGetSMDPAddress(LpaServerAddress *address);
bool lpaManagerGetSMDSAddress(LpaServerAddress *address);
bool lpaManagerSetDefaultSMDPAddress(const char *address);

#ifdef __cplusplus
}
#endif

#endif /* LPA_ADDRESSES_H */
