/*
 * The eUICC's configured addresses: the default SM-DP+ and root SM-DS
 * addresses read from GetEuiccConfiguredAddresses, and SetDefaultDpAddress.
 */
#include "flows/lpa_addresses.h"

#include <string.h>

#include "card/es10b.h"
#include "card/lpa_manager_es10c.h"
#include "card/se_media_manager.h"
#include "codec/ber_tlv.h"
#include "runtime/lpa_core_log.h"
#include "runtime/lpa_core_memory.h"
#include "runtime/lpa_error_internal.h"
#include "runtime/lpa_hex.h"

#define TAG_GET_CONFIGURED_ADDRESSES 0xBF3C
#define TAG_SET_DEFAULT_DP_ADDRESS 0xBF3F

/* ------------------------------------------------------------------------
 * Configured addresses
 * ------------------------------------------------------------------------ */

bool _getEUICCconfiguredAddresses(LpaConfiguredAddresses *addresses)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_getEUICCconfiguredAddresses()...");
    if (addresses == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Incorrect address parameter NULL!");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
        return false;
    }
    RawDataObject *request = berTLV_createAndBuildRawDataObject(TAG_GET_CONFIGURED_ADDRESSES, 0, NULL);
    if (request == NULL) {
        lpaSetLastErrorCode(LPA_ERROR_INVALID_GET_EUICC_ADDRESS);
        return false;
    }
    uint16_t sw = 0;
    size_t length = 0;
    bool sent = false;
    for (int executions = 1; executions <= LPA_NUMBER_OF_EXECUTIONS_FOR_CHAINED_GET_RESPONSE; ++executions) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "do buildAndSendStoreDataCase4(GetEUICCConfiguredAddress) ...");
        sent = lpaManagerES10Exchange(request, &sw, &length);
        if (sent || !lpaManagerRetryAfterChainingIssue("_getEUICCconfiguredAddresses", executions, false)) {
            break;
        }
    }
    rawDataObject_free(request);
    if (!sent) {
        lpaSetLastErrorCode(LPA_ERROR_INVALID_GET_EUICC_ADDRESS);
        return false;
    }
    if (!lpaManagerES10IsSuccessfulSW(sw)) {
        lpaSetLastErrorCode(LPA_ERROR_INVALID_SW);
        return false;
    }
    if (length == 0) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "No Raw data available !");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_GET_EUICC_ADDRESS);
        return false;
    }
    if (length > LPA_CONFIGURED_ADDRESSES_MAX) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Buffer too small for copying raw data !");
        lpaSetLastErrorCode(LPA_ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    memcpy(addresses->raw, lpaManagerES10ResponseBuffer, length);
    addresses->length = length;
    return true;
}

/* The value of one tag inside the BF3C of the working copy (NULL when absent). */
static BerTLV *_configuredAddress(const LpaConfiguredAddresses *addresses, uint8_t tag, bool *bf3cFound)
{
    BerTLV *bf3c = berTLV_extractTagUInt16(TAG_GET_CONFIGURED_ADDRESSES, addresses->raw, addresses->length, NULL);
    *bf3cFound = bf3c != NULL;
    BerTLV *value = (bf3c != NULL && bf3c->length > 0) ? berTLV_extractTagUInt8(tag, bf3c->value, bf3c->length, NULL)
                                                        : NULL;
    berTLV_freeBerTLV(bf3c);
    return value;
}

/* Reads the configured addresses and takes one tag out of BF3C. A failed
 * read records 0x200E (after readFailText when given); an empty answer
 * writes emptyText and records emptyCode (none when 0). */
static bool _readConfiguredAddress(uint8_t tag, const char *readFailText, const char *emptyText, uint32_t emptyCode,
                                   BerTLV **value, bool *bf3cFound)
{
    LpaConfiguredAddresses addresses;
    memset(&addresses, 0, sizeof(addresses));
    if (!_getEUICCconfiguredAddresses(&addresses)) {
        if (readFailText != NULL) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "%s", readFailText);
        }
        lpaSetLastErrorCode(LPA_ERROR_INVALID_GET_EUICC_ADDRESS);
        return false;
    }
    if (addresses.length == 0) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "%s", emptyText);
        if (emptyCode != 0) {
            lpaSetLastErrorCode(emptyCode);
        }
        return false;
    }
    *value = _configuredAddress(&addresses, tag, bf3cFound);
    return true;
}

bool lpaManagerGetSMDPAddress(LpaServerAddress *address)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "lpaManagerGetSMDPAddress()...");
    if (address == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Incorrect parameter!");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
        return false;
    }
    bool bf3cFound = false;
    BerTLV *value = NULL;
    if (!_readConfiguredAddress(0x80, NULL, "Invalid eUICC address", 0, &value, &bf3cFound)) {
        return false;
    }
    bool result = false;
    if (!bf3cFound) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to get SM-DP address");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_GET_SMDP_ADDRESS);
    } else if (value == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "defaultDpAddress is not present (optional)");
        address->addressLength = 0;
        result = true;
    } else if (value->length >= sizeof(address->address)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Buffer too small for copying raw data !");
        lpaSetLastErrorCode(LPA_ERROR_INSUFFICIENT_BUFFER);
    } else {
        if (value->length > 0) {
            memcpy(address->address, value->value, value->length);
        }
        address->addressLength = value->length;
        result = true;
    }
    berTLV_freeBerTLV(value);
    return result;
}

bool lpaManagerGetSMDSAddress(LpaServerAddress *address)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "lpaManagerGetSMDSAddress()...");
    if (address == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Incorrect parameter!");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
        return false;
    }
    bool bf3cFound = false;
    BerTLV *value = NULL;
    if (!_readConfiguredAddress(0x81, "Unable to retrieve euicc address", "Invalid euicc address",
                                LPA_ERROR_INVALID_GET_EUICC_ADDRESS, &value, &bf3cFound)) {
        return false;
    }
    bool result = false;
    if (value == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to get Default SM-DS address (Root) address");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_GET_SMDS_ADDRESS);
    } else if (value->length > sizeof(address->address)) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Buffer too small for copying raw data !");
        lpaSetLastErrorCode(LPA_ERROR_INSUFFICIENT_BUFFER);
    } else {
        if (value->length > 0) {
            memcpy(address->address, value->value, value->length);
        }
        address->addressLength = value->length;
        result = true;
    }
    berTLV_freeBerTLV(value);
    return result;
}

bool lpaManagerSetDefaultSMDPAddress(const char *address)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "lpaManagerSetDefaultSMDPAddress()...");
    if (address == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Incorrect NULL parameter!");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
        return false;
    }
    size_t length = strlen(address);
    if (length > LPA_DEFAULT_SMDP_ADDRESS_MAX) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "SM-DP address too long, maximum %d characters allowed!",
                   LPA_DEFAULT_SMDP_ADDRESS_MAX);
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
        return false;
    }
    uint8_t *response = (uint8_t *)LPA_MALLOC(10);
    if (response == NULL) {
        lpaSetLastErrorCode(LPA_ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    bool result = false;
    uint8_t content[2 + LPA_DEFAULT_SMDP_ADDRESS_MAX];
    size_t n = 0;
    content[n++] = 0x80;
    content[n++] = (uint8_t)length;
    if (length > 0) {
        memcpy(content + n, address, length);
        n += length;
    }
    RawDataObject *request = berTLV_createAndBuildRawDataObject(TAG_SET_DEFAULT_DP_ADDRESS, n, content);
    if (request == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to build data object!");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_SET_DEFAULT_SMDP_ADDRESS);
    } else {
        uint16_t sw = 0;
        size_t responseLength = 0;
        bool sent = buildAndSendStoreDataCase4(request, &sw, response, 10, &responseLength);
        rawDataObject_free(request);
        if (!sent) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to set default SMDP address");
            lpaSetLastErrorCode(LPA_ERROR_INVALID_SET_DEFAULT_SMDP_ADDRESS);
        } else if (!lpaManagerES10IsSuccessfulSW(sw)) {
            lpaSetLastErrorCode(LPA_ERROR_INVALID_SW);
        } else if (responseLength < 2) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "No Raw data available !");
            lpaSetLastErrorCode(LPA_ERROR_INVALID_SET_DEFAULT_SMDP_ADDRESS);
        } else if (response[responseLength - 1] != 0) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "Failed to set default SMDP address");
            lpaSetLastErrorCode(LPA_ERROR_INVALID_SET_DEFAULT_SMDP_ADDRESS);
        } else {
            result = true;
        }
    }
    LPA_FREE(response);
    return result;
}
