#include "flows/lpa_ppr.h"

#include <string.h>

#include "card/es10b.h"
#include "runtime/lpa_core_log.h"
#include "runtime/lpa_error_internal.h"
#include "runtime/lpa_hex.h"
#include "lpa_host.h"

/* ------------------------------------------------------------------------
 * Installed profiles
 * ------------------------------------------------------------------------ */

bool _checkIncomingProfilePPRconditionVersusInstalledProfiles(ProfileMetadataFields *incoming,
                                                              const LpaProfileInfoList *installed)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_checkIncomingProfilePPRconditionVersusInstalledProfiles()...");
    if (incoming == NULL || installed == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Incorrect parameter(s)!");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
        return false;
    }
    if (installed->countProfileInfo < installed->numberProfileInfoFound) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Found more profiles available on eUICC than retrieved in list. SHALL not "
                                      "happen! eUICC profile parsing may be incomplete.");
    }
    incoming->consentReason = 0;
    incoming->cancelRequired = 0;
    size_t count = installed->countProfileInfo;
    const LpaProfileInfoForPpr *records = (const LpaProfileInfoForPpr *)installed->profileInfo;
    if (count == 0 || records == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Did not find profiles on eUICC, no limitation due to installed profile.");
        return true;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Found %d profiles on eUICC", (int)count);
    if (incoming->hasPpr1) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB,
                   "Incoming profile has PPR1 defined, will check if an Operational profile is already loaded.");
    }
    bool enabledPpr1Found = false;
    for (size_t i = 0; i < count; ++i) {
        const LpaProfileInfoForPpr *profile = &records[i];
        int n = (int)i;
        if (incoming->hasPpr1) {
            if (profile->profileClassLength == 0) {
                lpaCoreLog(LPA_LOG_LEVEL_WAR, "Profile #%d: No profile Class found.", n);
            } else if (profile->profileClass[0] == 2) {
                lpaCoreLog(LPA_LOG_LEVEL_DEB, "Profile #%d is an Operational profile, download is not allowed due "
                                              "to PPR1 set on incoming profile.", n);
                incoming->consentReason = 0;
                incoming->cancelRequired = 1;
                incoming->cancelReason = ES10B_CANCEL_REASON_PPR_NOT_ALLOWED;
                break;
            } else {
                lpaCoreLog(LPA_LOG_LEVEL_DEB, "Profile #%d: Is not an Operational profile.", n);
            }
        }
        if (enabledPpr1Found) {
            continue;
        }
        if (profile->profilePolicyRulesLength == 0) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "Profile #%d: No Profile Policy Rules (PPR) found.", n);
        } else if (lpaPprValueHasPpr1(lpaPprValueOf(profile->profilePolicyRules, profile->profilePolicyRulesLength))) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "Profile #%d: Has PPR1 defined.", n);
            if (profile->profileStateLength == 0) {
                lpaCoreLog(LPA_LOG_LEVEL_WAR, "Profile #%d: No profile State found.", n);
            } else if (profile->profileState[0] == 1) {
                lpaCoreLog(LPA_LOG_LEVEL_DEB, "Profile #%d: Is in Enabled state, user consent is required.", n);
                incoming->consentReason = LPA_CONSENT_INSTALLED_PPR1;
                enabledPpr1Found = true;
            } else {
                lpaCoreLog(LPA_LOG_LEVEL_DEB, "Profile #%d: Is in Disabled state.", n);
            }
        } else {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "Profile #%d: Has not PPR1 defined.", n);
        }
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_checkIncomingProfilePPRconditionVersusInstalledProfiles(): return %s", "true");
    return true;
}

/* ------------------------------------------------------------------------
 * MCC/MNC
 * ------------------------------------------------------------------------ */

bool _comparePPARallowedOperator_MCC_MNC(const uint8_t ruleMccMnc[3], const uint8_t profileMccMnc[3], bool *match,
                                         int *level)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_comparePPARallowedOperator_MCC_MNC()...");
    uint32_t rule = ((uint32_t)ruleMccMnc[0] << 16) | ((uint32_t)ruleMccMnc[1] << 8) | ruleMccMnc[2];
    uint32_t profile = ((uint32_t)profileMccMnc[0] << 16) | ((uint32_t)profileMccMnc[1] << 8) | profileMccMnc[2];
    bool valid = true;
    *match = false;
    *level = 6;
    int k = 0;
    for (; k < 6; ++k) {
        uint32_t r = (rule >> (4 * k)) & 0x0F;
        uint32_t p = (profile >> (4 * k)) & 0x0F;
        if (r >= 0x0A && r <= 0x0D) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "Invalid digit detected in allowedProfile MCC/MNC");
            valid = false;
            break;
        }
        if (p >= 0x0A && p <= 0x0E) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "Invalid digit detected in incoming profile MCC/MNC");
            valid = false;
            break;
        }
        if (r == 0x0E) {
            --*level;
        } else if (r != p) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "Digit %d is different, allowedOperator and incoming profile does not match",
                       6 - k);
            break;
        }
    }
    if (valid && k == 6) {
        *match = true;
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "allowedOperator and incoming profile MCC/MNC are compatible, with level %d",
                   *level);
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_comparePPARallowedOperator_MCC_MNC(): return %s", lpaBoolText(valid));
    return valid;
}

/* ------------------------------------------------------------------------
 * Allowed operators
 * ------------------------------------------------------------------------ */

static bool _pparFailure(const char *text)
{
    lpaCoreLog(LPA_LOG_LEVEL_ERR, "%s", text);
    lpaSetLastErrorCode(LPA_ERROR_INVALID_GET_RAT);
    return false;
}

/* One GID condition of an allowed operator. */
typedef enum GidOutcome { GID_DISCARDED, GID_SATISFIED_MATCH, GID_SATISFIED_ANY } GidOutcome;

static GidOutcome _compareGid(const BerTLV *ruleGid, bool ruleGidEqual, bool profilePresent, const char *name)
{
    if (ruleGid != NULL && ruleGid->length > 0) {
        if (ruleGidEqual) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "%s's are the same, increasing GID matching level", name);
            return GID_SATISFIED_MATCH;
        }
        if (name[3] == '1') {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "%s's are different, PPAR allowedOperator discarded", name);
        }
        return GID_DISCARDED;
    }
    if (ruleGid != NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Empty %s defined in allowedOperator, compatible with any profile %s", name, name);
        return GID_SATISFIED_ANY;
    }
    if (profilePresent) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "%s not defined in allowedOperator while defined in profile, PPAR "
                                      "allowedOperator discarded", name);
        return GID_DISCARDED;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "%s not defined in allowedOperator and profile, increasing GID matching level", name);
    return GID_SATISFIED_MATCH;
}

/* Reads the rule's GID (81 or 82) of an allowed operator; *equal when it
 * holds data equal to the profile's. */
static BerTLV *_ruleGid(const BerTLV *op, uint8_t tag, const uint8_t *gid, size_t gidLength, bool *equal,
                        const char *name)
{
    *equal = false;
    bool found = false;
    BerTLV *ruleGid = berTLV_extractTagUInt8(tag, op->value, op->length, &found);
    if (ruleGid == NULL) {
        return NULL;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "%s is defined", name);
    if (ruleGid->length > 0) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "%s contain data", name);
        *equal = ruleGid->length == gidLength && memcmp(ruleGid->value, gid, gidLength) == 0;
        if (*equal) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "%s from allowedOperator and profile are equal", name);
        }
    } else {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "%s is empty", name);
    }
    return ruleGid;
}

/* One allowed operator against the profile; false on a malformed entry. */
static bool _analyseAllowedOperator(const ProfileMetadataFields *incoming, LpaPprEvaluation *state, const BerTLV *op,
                                    bool consentRequired)
{
    if (op->tag != 0x30) {
        return _pparFailure(
            "Invalid tag detected for allowedOperator list element, profile download is not allowed");
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "TLV allowedOperator tag correct, extracting MCC/MNC");
    bool found = false;
    BerTLV *mccMnc = (op->length > 0) ? berTLV_extractTagUInt8(0x80, op->value, op->length, &found) : NULL;
    if (mccMnc == NULL || mccMnc->length != 3) {
        berTLV_freeBerTLV(mccMnc);
        return _pparFailure("Mandatory MCC/MNC tag missing or incorrect length in allowedOperator entry, profile "
                            "download is not allowed");
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Compare allowedOperator MCC/MNC with profile MCC/MNC");
    bool match = false;
    int level = 0;
    bool valid = _comparePPARallowedOperator_MCC_MNC(mccMnc->value, incoming->mccMnc, &match, &level);
    berTLV_freeBerTLV(mccMnc);
    if (!valid) {
        return _pparFailure("Invalid MCC/MNC in allowedOperator or profile, profile download is not allowed");
    }
    if (!match) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "AllowedOperator MCC/MNC and profile MCC/MNC cannot match, PPAR allowedOperator "
                                      "does not fit with profile");
        return true;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB,
               "AllowedOperator MCC/MNC and profile MCC/MNC can match, now extracting GID's from rule");
    bool gid1Equal = false;
    bool gid2Equal = false;
    BerTLV *gid1 = _ruleGid(op, 0x81, incoming->gid1, incoming->gid1Length, &gid1Equal, "GID1");
    BerTLV *gid2 = _ruleGid(op, 0x82, incoming->gid2, incoming->gid2Length, &gid2Equal, "GID2");
    if (incoming->gid1Present) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Incoming profile GID1 is defined, length = %d", (int)incoming->gid1Length);
    } else {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Incoming profile GID1 is not defined");
    }
    if (incoming->gid2Present) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Incoming profile GID2 is defined, length = %d", (int)incoming->gid2Length);
    } else {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Incoming profile GID2 is not defined");
    }
    if (level < state->mccMncLevel) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Level of rule MCC/MNC is lower than previously evaluated allowedOperator, PPAR "
                                      "allowedOperator discarded");
    } else {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Level of allowedOperator MCC/MNC is higher or equal than previously evaluated one");
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Now check allowedOperator GID's compatibility with profile GID's");
        GidOutcome first = _compareGid(gid1, gid1Equal, incoming->gid1Present != 0, "GID1");
        GidOutcome second = GID_DISCARDED;
        if (first != GID_DISCARDED) {
            second = _compareGid(gid2, gid2Equal, incoming->gid2Present != 0, "GID2");
        }
        if (first != GID_DISCARDED && second != GID_DISCARDED) {
            int gidLevel = (first == GID_SATISFIED_MATCH ? 1 : 0) + (second == GID_SATISFIED_MATCH ? 1 : 0);
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "PPAR allowedOperator match with incoming profile");
            if (gidLevel < state->gidLevel) {
                lpaCoreLog(LPA_LOG_LEVEL_DEB, "Level of allowedOperator GID's is lower than previously evaluated "
                                              "rule, PPAR allowedOperator discarded");
            } else {
                lpaCoreLog(LPA_LOG_LEVEL_DEB, "Level of GID's is higher or equal than previously evaluated one, PPR "
                                              "validated with actual levels and use PPAR condition for User Consent");
                state->validated = 1;
                state->mccMncLevel = level;
                state->gid1Match = (first == GID_SATISFIED_MATCH) ? 1 : 0;
                state->gid2Match = (second == GID_SATISFIED_MATCH) ? 1 : 0;
                state->gidLevel = gidLevel;
                state->consentRequired = consentRequired ? 1 : 0;
            }
        }
    }
    berTLV_freeBerTLV(gid1);
    berTLV_freeBerTLV(gid2);
    return true;
}

bool _analysePPARallowedOperatorVersusProfile(const ProfileMetadataFields *incoming, LpaPprEvaluation *state,
                                              const BerTLV *allowedOperators, bool consentRequired)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_analysePPARallowedOperatorVersusProfile()...");
    if (incoming == NULL || state == NULL || allowedOperators == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Incorrect NULL parameter(s)!");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
        return false;
    }
    size_t count = 0;
    BerTLVListNode *list = (allowedOperators->length > 0)
                               ? berTLV_extractList(allowedOperators->value, allowedOperators->length, &count)
                               : NULL;
    bool result = true;
    if (list == NULL || count == 0) {
        result = _pparFailure("Operator list not found or empty, profile download is not allowed");
    } else {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Found %d allowedOperator in PPAR", (int)count);
        for (BerTLVListNode *node = list; node != NULL && result; node = node->next) {
            if (node->tlv == NULL) {
                lpaCoreLog(LPA_LOG_LEVEL_WAR, "PPAR allowedOperator parser: Current BerTLV list element appear to be "
                                              "NULL ? Go to next one...");
                continue;
            }
            result = _analyseAllowedOperator(incoming, state, node->tlv, consentRequired);
        }
    }
    berTLV_freeBerTLVList(list);
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_analysePPARallowedOperatorVersusProfile(): return %s", lpaBoolText(result));
    return result;
}

/* ------------------------------------------------------------------------
 * One rule
 * ------------------------------------------------------------------------ */

static const char *_definedText(bool defined)
{
    return defined ? "Defined" : "Not defined";
}

bool _analysePPARversusProfileAttribute(const BerTLV *rule, const ProfileMetadataFields *incoming,
                                        LpaPprEvaluation *ppr1, LpaPprEvaluation *ppr2)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_analysePPARversusProfileAttribute()...");
    if (rule == NULL || incoming == NULL || ppr1 == NULL || ppr2 == NULL) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Incorrect NULL parameter(s)!");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
        return false;
    }
    bool found = false;
    BerTLV *ids = NULL;
    BerTLV *operators = NULL;
    BerTLV *flags = NULL;
    if (rule->length > 0) {
        ids = berTLV_extractTagUInt8(0x80, rule->value, rule->length, &found);
        operators = berTLV_extractTagUInt8(0xA1, rule->value, rule->length, &found);
        flags = berTLV_extractTagUInt8(0x82, rule->value, rule->length, &found);
    }
    bool result = true;
    if (ids == NULL || operators == NULL || flags == NULL) {
        result = _pparFailure("Missing TLV object in current PPAR, profile download is not allowed");
    } else if (ids->length != 2 || operators->length <= 6 || flags->length < 1 || flags->length > 2) {
        result = _pparFailure("Incorrect length detected in TLV object in current PPAR, profile download is not allowed");
    } else {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "PPAR TLV objects validated. Now retrieving PPR(s) and consentRequired defined in "
                                      "PPAR");
        uint32_t value = lpaPprValueOf(ids->value, ids->length);
        bool rulePpr1 = lpaPprValueHasPpr1(value);
        bool rulePpr2 = lpaPprValueHasPpr2(value);
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "PPAR - PPR1 status: PPAR: %s - Profile: %s", _definedText(rulePpr1),
                   _definedText(incoming->hasPpr1 != 0));
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "PPAR - PPR2 status: PPAR: %s - Profile: %s", _definedText(rulePpr2),
                   _definedText(incoming->hasPpr2 != 0));
        bool consentRequired = false;
        if (flags->length == 2 && flags->value[0] == 0x07 && flags->value[1] == 0x80) {
            consentRequired = true;
        } else if (flags->length == 1 && flags->value[0] == 0x00) {
            consentRequired = false;
        } else {
            result = _pparFailure(
                "Incorrect value detected in TLV consentRequired, profile download is not allowed");
        }
        if (result && rulePpr1 && incoming->hasPpr1) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "PPAR - Launch allowedOperator analysis for PPR1");
            result = _analysePPARallowedOperatorVersusProfile(incoming, ppr1, operators, consentRequired);
        }
        if (result && rulePpr2 && incoming->hasPpr2) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "PPAR - Launch allowedOperator analysis for PPR2");
            result = _analysePPARallowedOperatorVersusProfile(incoming, ppr2, operators, consentRequired);
        }
    }
    berTLV_freeBerTLV(ids);
    berTLV_freeBerTLV(operators);
    berTLV_freeBerTLV(flags);
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_analysePPARversusProfileAttribute(): return %s", lpaBoolText(result));
    return result;
}

/* ------------------------------------------------------------------------
 * RAT
 * ------------------------------------------------------------------------ */

/* The outcome of one PPR after the rules were analysed. */
static void _concludePpr(ProfileMetadataFields *incoming, bool hasPpr, const LpaPprEvaluation *state, int n,
                         uint8_t consentBit)
{
    if (!hasPpr) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Profile has not having PPR%d defined", n);
    } else if (state->validated) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Profile PPR%d validated by RAT", n);
        if (state->consentRequired) {
            incoming->consentReason |= consentBit;
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "User Consent required");
        } else {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "User Consent not required");
        }
    } else {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "Profile PPR%d not validated by RAT, cancel download", n);
        incoming->cancelRequired = 1;
    }
}

bool _checkIncomingProfilePPRattributesVersurRAT(const RawDataObject *rat, ProfileMetadataFields *incoming)
{
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_checkIncomingProfilePPRattributesVersurRAT()...");
    bool f = true;
    if (rat == NULL || incoming == NULL || rat->data == NULL || rat->length <= 4) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Incorrect parameter(s)!");
        lpaSetLastErrorCode(LPA_ERROR_INVALID_PARAMETER);
        f = false;
        if (incoming == NULL) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "_checkIncomingProfilePPRattributesVersurRAT(): return %s", lpaBoolText(f));
            return f;
        }
    } else if (!incoming->hasPpr1 && !incoming->hasPpr2) {
        lpaCoreLog(LPA_LOG_LEVEL_WAR, "Submitted profile has no PPR defined, checking stop here.");
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "_checkIncomingProfilePPRattributesVersurRAT(): return %s", lpaBoolText(f));
        return f;
    } else {
        char hex[1024];
        if (byteArray2HexStr(rat->data, rat->length, hex, sizeof(hex)) > 0) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "RAT retrieved from eUICC: %d bytes: %s", (int)rat->length, hex);
        } else {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "RAT retrieved from eUICC: %d bytes", (int)rat->length);
        }
        LpaPprEvaluation ppr1;
        LpaPprEvaluation ppr2;
        memset(&ppr1, 0, sizeof(ppr1));
        memset(&ppr2, 0, sizeof(ppr2));
        bool found = false;
        BerTLV *bf43 = berTLV_extractTagUInt16(0xBF43, rat->data, rat->length, &found);
        BerTLV *a0 = NULL;
        if (bf43 != NULL && bf43->length > 0) {
            a0 = berTLV_extractTagUInt8(0xA0, bf43->value, bf43->length, &found);
        }
        if (bf43 == NULL) {
            lpaCoreLog(LPA_LOG_LEVEL_ERR, "Invalid RAT, main tag %X not found!", 0xBF43u);
            lpaSetLastErrorCode(LPA_ERROR_INVALID_GET_RAT);
            f = false;
        } else if (a0 == NULL) {
            f = _pparFailure("Invalid RAT, main sequence tag A0 not found!");
        } else if (a0->length == 0) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "Empty RAT rules list found, profile download is not allowed");
            incoming->cancelRequired = 1;
        } else {
            size_t count = 0;
            BerTLVListNode *rules = berTLV_extractList(a0->value, a0->length, &count);
            if (rules == NULL || count == 0) {
                f = _pparFailure("Problem with RAT rules list, profile download is not allowed");
            } else {
                lpaCoreLog(LPA_LOG_LEVEL_DEB, "Found %d PPAR (rule) in RAT", (int)count);
                for (BerTLVListNode *node = rules; node != NULL; node = node->next) {
                    if (node->tlv == NULL) {
                        lpaCoreLog(LPA_LOG_LEVEL_WAR, "RAT rules parser: Current BerTLV list element appear to be "
                                                      "NULL ? Go to next one...");
                        continue;
                    }
                    if (node->tlv->tag != 0x30) {
                        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Invalid tag found for PPAR entry (Not 0x30), profile download "
                                                      "is not allowed");
                        incoming->cancelRequired = 1;
                        lpaSetLastErrorCode(LPA_ERROR_INVALID_GET_RAT);
                        break;
                    }
                    lpaCoreLog(LPA_LOG_LEVEL_DEB, "Launch analysis of PPAR...");
                    if (!_analysePPARversusProfileAttribute(node->tlv, incoming, &ppr1, &ppr2)) {
                        f = false;
                        break;
                    }
                }
                _concludePpr(incoming, incoming->hasPpr1 != 0, &ppr1, 1, LPA_CONSENT_PPR1_BY_RAT);
                _concludePpr(incoming, incoming->hasPpr2 != 0, &ppr2, 2, LPA_CONSENT_PPR2_BY_RAT);
            }
            berTLV_freeBerTLVList(rules);
        }
        berTLV_freeBerTLV(a0);
        berTLV_freeBerTLV(bf43);
    }
    if (!f) {
        lpaCoreLog(LPA_LOG_LEVEL_ERR, "Error reported during RAT rules parsing, canceling current download session");
        incoming->cancelRequired = 1;
    }
    if (incoming->cancelRequired) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB,
                   "Cancel Session required, setting cancel reason and disabling any User Consent request");
        incoming->consentReason = 0;
        incoming->cancelReason = ES10B_CANCEL_REASON_PPR_NOT_ALLOWED;
    }
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "_checkIncomingProfilePPRattributesVersurRAT(): return %s", lpaBoolText(f));
    return f;
}
