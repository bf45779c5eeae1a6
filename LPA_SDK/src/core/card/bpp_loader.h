/*
 * Loading a bound profile package (BF36) into the eUICC: the package is
 * checked, cut into its segments (BF36 header with BF23, A0, the A1 header
 * and each 88, A2, the A3 header and each 86) and sent segment by segment;
 * every answer is watched for the Profile Installation Result (BF37).
 *
 * Not thread-safe: the engine is driven from one thread at a time.
 */
#ifndef BPP_LOADER_H
#define BPP_LOADER_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "codec/ber_tlv.h"
#include "codec/lpa_server_data.h"
#include "codec/raw_data_object.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The PIR of a load, owned and zeroed by the flow. received is set when an
 * answer's data was kept; raw and base64 hold the last PIR kept. */
typedef struct TPirData {
    bool received;
    RawDataObject *raw;
    RawDataObject *base64;
} TPirData;

#define BPP_PIR_MAX 400

/* Loads the package of data->_boundProfilePackage. True only when every
 * segment was sent and the eUICC answered a PIR with successResult.
 * *packageError is set when the package itself is malformed. */
bool lpaManagerES10b_LoadBoundProfilePackage(const TServerData *data, TPirData *pir, bool *packageError);

bool _checkBoundProfilePackageMainObjects(const BerTLV *bf36);
bool sendInitalizeSecureChannel(const BerTLV *bf36, TPirData *pir, bool *packageError);
bool ConfigureISDP(const BerTLV *bf36, TPirData *pir, bool *packageError);
bool StoreMetaData(const BerTLV *bf36, TPirData *pir, bool *packageError);
bool ReplaceSessionKey(const BerTLV *bf36, TPirData *pir, bool *packageError);
bool LoadProfileElements(const BerTLV *bf36, TPirData *pir, bool *packageError);

/* Sends one segment and judges its answer (a PIR is kept in pir). */
bool _sendBoundProfileRawDataOject(const RawDataObject *segment, TPirData *pir);

/* True when the kept PIR's finalResult is successResult. */
bool _isPIRContainsSuccessResult(const TPirData *pir);

/* The sequence number of the PIR's notificationMetadata. */
bool extractSeqNumbFromPIR(const TPirData *pir, uint16_t *seqNumber);

/* Decodes a notification sequence number: the whole unsigned INTEGER
 * content of 1 to 4 bytes (leading zero bytes allowed); false when the
 * length is out of range or the value does not fit 16 bits. */
bool lpaManagerDecodeSequenceNumber(const uint8_t *value, size_t length, uint16_t *seqNumber);

/* Room for the longest encoded sequence number. */
#define LPA_SEQUENCE_NUMBER_MAX_BYTES 3

/* Encodes a notification sequence number as the content of a DER INTEGER:
 * the fewest bytes, with a leading 00 when the top bit would otherwise be
 * set (200 gives 00 C8, 40000 gives 00 9C 40). Writes 1 to 3 bytes to out
 * and returns their number. */
size_t lpaManagerEncodeSequenceNumber(uint16_t seqNumber, uint8_t out[LPA_SEQUENCE_NUMBER_MAX_BYTES]);

#ifdef __cplusplus
}
#endif

#endif /* BPP_LOADER_H */
