/*
 * The records a download session carries between the card and the server:
 * the decoded server data, the SM-DS event list and the eUICC's
 * CancelSession answer. The ES10b requests fill some of their fields, the
 * ES9+/ES11 client the others; neither layer owns them.
 */
#ifndef LPA_SERVER_DATA_H
#define LPA_SERVER_DATA_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One decoded field of the server data: an engine block and the number of
 * meaningful bytes (0 while empty or after a failed decoding). */
typedef struct TDataValue {
    uint8_t *val;
    size_t len;
} TDataValue;

/* The server data of one download session, owned and zeroed by the flow. */
typedef struct TServerData {
    TDataValue _transactionId;       /* text as sent by the server, NUL-terminated */
    TDataValue _serverSigned1;
    TDataValue _serverSignature1;
    TDataValue _euiccCiPKIdToBeUsed;
    TDataValue _serverCertificate;
    TDataValue _smdpCertificate;
    TDataValue _smdpSignature2;
    TDataValue _smdpSigned2;
    TDataValue _profileMetadata;
    TDataValue _boundProfilePackage;
} TServerData;

/* Capacities of the field buffers (the package buffer is sized by its text). */
#define ES9_TRANSACTION_ID_CAPACITY         40
#define ES9_SERVER_SIGNED1_CAPACITY         350
#define ES9_SERVER_SIGNATURE1_CAPACITY      100
#define ES9_EUICC_CI_PKID_CAPACITY          40
#define ES9_SERVER_CERTIFICATE_CAPACITY     1536
#define ES9_SMDP_CERTIFICATE_CAPACITY       1536
#define ES9_SMDP_SIGNATURE2_CAPACITY        100
#define ES9_SMDP_SIGNED2_CAPACITY           350
#define ES9_PROFILE_METADATA_CAPACITY       2048
#define ES9_BOUND_PROFILE_PACKAGE_MAX_SIZE  0x20FFF

/* One event of the SM-DS. */
typedef struct SmdsEventRecord {
    char eventId[255];
    char rspServerAddress[128];
} SmdsEventRecord;

#define SMDS_EVENT_RECORD_MAX 16

/* The event list of an ES11 retrieval, owned and zeroed by the caller. */
typedef struct SmdsEventList {
    size_t count;
    SmdsEventRecord records[SMDS_EVENT_RECORD_MAX];
} SmdsEventList;

#define ES10B_CANCEL_SESSION_RESPONSE_MAX 160

/* The eUICC's CancelSession answer (filled by lpaManagerES10b_CancelSession),
 * allocated and zeroed by the caller. */
typedef struct TCancelSessionResponse TCancelSessionResponse;
struct TCancelSessionResponse {
    uint8_t ok; /* 1: cancelSessionResponseOk */
    uint8_t response[ES10B_CANCEL_SESSION_RESPONSE_MAX];
    size_t length;
};

static_assert(sizeof(TCancelSessionResponse) == 176, "TCancelSessionResponse is 176 bytes");

#ifdef __cplusplus
}
#endif

#endif /* LPA_SERVER_DATA_H */
