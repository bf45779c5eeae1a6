/*
 * ES10b requests of a profile download: GetEuiccChallenge, GetEuiccInfo1,
 * AuthenticateServer, PrepareDownload, CancelSession and GetRAT. Each is
 * one BER-TLV sent with STORE DATA to the ISD-R inside an open card
 * connection; the answer is judged and handed back.
 *
 * Not thread-safe: the engine is driven from one thread at a time.
 */
#ifndef ES10B_H
#define ES10B_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "codec/lpa_server_data.h"
#include "codec/raw_data_object.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Raw bytes and their Base64 text (with its NUL, counted in the length).
 * Owned by the caller. */
typedef struct TRawDataPair {
    RawDataObject *raw;
    RawDataObject *base64;
} TRawDataPair;

/* The engine-wide ES10 response buffer. */
#define ES10_RESPONSE_BUFFER_SIZE 8192
extern uint8_t lpaManagerES10ResponseBuffer[ES10_RESPONSE_BUFFER_SIZE];

/* One ES10 request (STORE DATA) into lpaManagerES10ResponseBuffer; *sw and
 * *length are zeroed first. */
bool lpaManagerES10Exchange(const RawDataObject *request, uint16_t *sw, size_t *length);

#define ES10B_CHALLENGE_MAX             384
#define ES10B_EUICC_INFO1_MAX           384
#define ES10B_AUTHENTICATE_SERVER_MAX   4500
#define ES10B_PREPARE_DOWNLOAD_CONTENT_MAX 4499
#define ES10B_RESPONSE_MAX              4500
#define ES10B_RAT_MIN                   5
#define ES10B_RAT_MAX                   1024

/* CancelSessionReason values. */
#define ES10B_CANCEL_REASON_END_USER_REJECTION      0
#define ES10B_CANCEL_REASON_POSTPONED               1
#define ES10B_CANCEL_REASON_TIMEOUT                 2
#define ES10B_CANCEL_REASON_PPR_NOT_ALLOWED         3
#define ES10B_CANCEL_REASON_METADATA_MISMATCH       4
#define ES10B_CANCEL_REASON_LOAD_BPP_EXECUTION_ERROR 5
#define ES10B_CANCEL_REASON_UNDEFINED               127

/* True for the status words the ES10 requests accept: 9000 and 91xx. */
bool lpaManagerES10IsSuccessfulSW(uint16_t sw);

/* Fills the pair with a copy of the bytes and their Base64 text; frees the
 * pair's old objects first. A failure leaves both pointers NULL. */
bool _storeHexBase64StructureRawDataPair(RawDataObject **raw, RawDataObject **base64, const uint8_t *data,
                                         size_t length, size_t maxLength);

/* Frees both objects of a pair and sets them to NULL. */
void lpaManagerFreeRawDataPair(TRawDataPair *pair);

bool lpaManagerES10b_GetEuiccChallenge(TRawDataPair *challenge);
bool lpaManagerES10b_GetEuiccInfo1(TRawDataPair *info);
bool lpaManagerES10b_AuthenticateServer(const TServerData *data, const RawDataObject *ctxParams1,
                                        TRawDataPair *response);
bool lpaManagerES10b_PrepareDownload(const TServerData *data, const char *hashCcHex, TRawDataPair *response);
bool lpaManagerES10b_CancelSession(const char *transactionId, int32_t reason, TCancelSessionResponse *response);
bool lpaManagerES10b_GetRAT(RawDataObject **rat);

/* Request builders (new objects owned by the caller, NULL on failure). */
RawDataObject *_prepareAuthenticateServerTlv(const TServerData *data, const RawDataObject *ctxParams1);
RawDataObject *_prepareDownloadTlv(const TServerData *data, const char *hashCcHex);
RawDataObject *_prepareCancelSessionTlv(const char *transactionId, int32_t reason);

/* Splits smdpSigned2 and takes its first three elements by position. */
bool _extractDataFromSmdpSigned2(const TServerData *data);

#ifdef __cplusplus
}
#endif

#endif /* ES10B_H */
