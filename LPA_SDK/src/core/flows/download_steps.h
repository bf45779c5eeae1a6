/*
 * The steps the download flows share: the work record of one execution,
 * the authentication sequence (challenge, euiccInfo1, initiateAuthentication,
 * transactionId, address check, ctxParams1, AuthenticateServer and
 * authenticateClient) driven by each flow's table of texts and codes, the
 * chaining retries, package loading, the PIR step and the cancel session.
 * Internal to flows/.
 */
#ifndef DOWNLOAD_STEPS_H
#define DOWNLOAD_STEPS_H

#include <stdbool.h>
#include <stdint.h>

#include "card/bpp_loader.h"
#include "card/es10b.h"
#include "card/lpa_manager_es10c.h"
#include "codec/lpa_activation_code.h"
#include "flows/lpa_download.h"
#include "flows/lpa_ppr.h"

#define LPA_DOWNLOAD_EXECUTIONS 3

/* Working data of one execution of a flow. The activation-code flow also
 * fills code, metadata, rat and installed. */
typedef struct DownloadWork {
    char transactionId[LPA_FLOW_TRANSACTION_ID_SIZE];
    const char *address;    /* the server of the flow */
    const char *matchingId; /* for ctxParams1 */
    const char *activationCode; /* the activation-code flow's input */
    ActivationCodeFields code;
    TRawDataPair challenge;
    TRawDataPair info1;
    TServerData serverData;
    RawDataObject *ctxParams1;
    TRawDataPair authenticateServerResponse;
    TRawDataPair prepareDownloadResponse;
    ProfileMetadataFields metadata;
    RawDataObject *rat;
    LpaProfileInfoList installed;
    TPirData pir;
} DownloadWork;

/* Releases what the record holds and zeroes it; withPolicyData also
 * releases the RAT and the installed profiles list. */
void _releaseDownloadWork(DownloadWork *work, bool withPolicyData);

/* How one flow runs the authentication sequence: its log texts (NULL: no
 * line), codes and the few places where the flows differ. */
typedef struct AuthenticationTexts {
    const char *stepChallenge, *challengeFailed, *challengeDone;
    const char *stepInfo1, *info1Failed, *info1Done;
    const char *stepInitiate, *initiateFailed, *initiateDone;
    const char *transactionIdFailed, *transactionIdLine;
    const char *stepAddress, *serverSigned1Missing, *addressFailed;
    const char *ctxParamsFailed, *ctxParamsDone;
    const char *stepAuthenticateServer, *chainingBroken, *authenticateServerFailed, *authenticateServerDone;
    const char *authenticateServerResponse, *authenticateServerNoResponse;
    const char *stepAuthenticateClient;
} AuthenticationTexts;

typedef enum PairRelease { PAIRS_KEPT, PAIRS_FREED_AFTER_INITIATE, PAIRS_FREED_AFTER_INITIATED } PairRelease;

typedef struct AuthenticationFlow {
    const AuthenticationTexts *texts;
    uint32_t challengeCode, info1Code; /* 0: none */
    bool info1KeepsChainingCode;       /* a broken chain answers its own code */
    bool recordAtOnce;                 /* record each code when it occurs */
    bool progress;                     /* send progress texts */
    bool checkPairsBeforeInitiate;
    PairRelease pairRelease;
    bool addressBeforeTransactionId;
    bool ctxParamsFreedAfterAuthenticateServer;
    bool responseBeforeProgress;
    /* Flow steps between euiccInfo1 and initiateAuthentication, and after
     * ctxParams1; answer a code, 0 to go on. */
    uint32_t (*afterInfo1)(DownloadWork *work, const LpaDownloadCallbacks *callbacks);
    uint32_t (*afterCtxParams)(DownloadWork *work, const LpaDownloadCallbacks *callbacks);
} AuthenticationFlow;

/* Challenge to AuthenticateServer. False at the first failing step with its
 * code in *code (0 for a step that records none, or for a broken chain in
 * a flow without chainingBroken text); *chainingBroken is set when
 * AuthenticateServer met a broken GET RESPONSE chain. */
bool _authenticateServer(DownloadWork *work, const AuthenticationFlow *flow, const LpaDownloadCallbacks *callbacks,
                         bool *chainingBroken, uint32_t *code);

/* authenticateClient toward work->address after a successful
 * _authenticateServer. */
bool _authenticateClient(DownloadWork *work, const AuthenticationFlow *flow, const LpaDownloadCallbacks *callbacks,
                         uint32_t *code);

/* Runs attempt until it succeeds, and again after a broken GET RESPONSE
 * chain while lpaManagerRetryAfterChainingIssue allows (and while the
 * attempt leaves *retryAllowed set). */
template <typename Attempt>
static inline bool _withChainingRetry(const char *name, Attempt attempt)
{
    for (int executions = 1;; ++executions) {
        bool retryAllowed = true;
        if (attempt(&retryAllowed)) {
            return true;
        }
        if (!retryAllowed || !lpaManagerRetryAfterChainingIssue(name, executions, true)) {
            return false;
        }
    }
}

/* After a failed execution that asked for a whole-flow retry: clears the
 * last error and announces the next execution while executions are left,
 * else tells that no more will run. */
void _announceWholeFlowRetry(int executions, const LpaDownloadCallbacks *callbacks);

const char *_pairText(const TRawDataPair *pair);
void _resetServerData(TServerData *data);
bool _copyTransactionId(const TServerData *data, char out[LPA_FLOW_TRANSACTION_ID_SIZE]);
void _cancelWithProgress(const char *transactionId, int reason, const char *address,
                         const LpaDownloadCallbacks *callbacks, int phase);
bool _prepareDownloadWithRetry(const TServerData *data, const char *hashCc, TRawDataPair *response);
bool _loadPackage(const TServerData *data, TPirData *pir, const char *transactionId, const char *address,
                  const LpaDownloadCallbacks *callbacks, bool codeAfterCancel, bool *pirExpected);

/* Log texts of the PIR step that differ between the flows. */
typedef struct PirStepTexts {
    const char *noPir;
    const char *deactivated;
    const char *sent;
    const char *cleared;
} PirStepTexts;

extern const PirStepTexts kActivationCodePirTexts;
extern const PirStepTexts kAddressPirTexts;

typedef enum PirOutcome { PIR_MISSING, PIR_NOT_SENT_BY_SETTING, PIR_SENT, PIR_SEND_FAILED } PirOutcome;

PirOutcome _sendPirAndClear(const TPirData *pir, const char *address, size_t addressLength,
                            const LpaDownloadCallbacks *callbacks, const PirStepTexts *texts);

#endif /* DOWNLOAD_STEPS_H */
