/*
 * Profile policy rules: the incoming profile's PPR1 against the installed
 * profiles, and its PPR1 and PPR2 against the eUICC's Rules Authorisation
 * Table, matched on the profile owner with a best-match rule. The checks
 * only read; they write consentReason, cancelRequired and cancelReason of
 * the incoming profile's fields.
 *
 * Not thread-safe: the engine is driven from one thread at a time.
 */
#ifndef LPA_PPR_H
#define LPA_PPR_H

#include <stdbool.h>
#include <stdint.h>

#include "codec/ber_tlv.h"
#include "lpa.h"
#include "codec/lpa_activation_code.h"
#include "codec/raw_data_object.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The rule chosen so far for one PPR. */
typedef struct LpaPprEvaluation {
    uint8_t validated;
    int32_t mccMncLevel;
    uint8_t gid1Match;
    uint8_t gid2Match;
    int32_t gidLevel;
    uint8_t consentRequired;
} LpaPprEvaluation;

bool _checkIncomingProfilePPRconditionVersusInstalledProfiles(ProfileMetadataFields *incoming,
                                                              const LpaProfileInfoList *installed);
bool _checkIncomingProfilePPRattributesVersurRAT(const RawDataObject *rat, ProfileMetadataFields *incoming);
bool _analysePPARversusProfileAttribute(const BerTLV *rule, const ProfileMetadataFields *incoming,
                                        LpaPprEvaluation *ppr1, LpaPprEvaluation *ppr2);
bool _analysePPARallowedOperatorVersusProfile(const ProfileMetadataFields *incoming, LpaPprEvaluation *state,
                                              const BerTLV *allowedOperators, bool consentRequired);
/* Answers validity; *match and *level tell the outcome of a valid comparison. */
bool _comparePPARallowedOperator_MCC_MNC(const uint8_t ruleMccMnc[3], const uint8_t profileMccMnc[3], bool *match,
                                         int *level);

#ifdef __cplusplus
}
#endif

#endif /* LPA_PPR_H */
