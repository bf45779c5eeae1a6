/*
 * Local profile management (ES10c): the number of installed profiles, the
 * profile list as full or compact records, the EID, the eUICC memory
 * reset, enabling, disabling and deleting a profile by ICCID, and
 * nicknames. Every request is one BER-TLV sent to the ISD-R in STORE DATA
 * commands over the card connection the caller opened.
 *
 * Not thread-safe: the engine is driven from one thread at a time (the
 * operations share one response buffer).
 */
#ifndef LPA_MANAGER_ES10C_H
#define LPA_MANAGER_ES10C_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "codec/ber_tlv.h"
#include "lpa.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Record kinds of the profile list. */
#define LPA_PROFILE_INFO_KIND_FULL 0 /* LpaProfileInfo, into the caller's array */
#define LPA_PROFILE_INFO_KIND_PPR  1 /* LpaProfileInfoForPpr, into an array allocated here */

/* Capacities. */
#define LPA_ES10C_RESPONSE_BUFFER_SIZE 8192
#define LPA_ES10C_COUNT_RESPONSE_SIZE 768
#define LPA_PROFILE_INFO_RAW_MAX 1300
#define LPA_PROFILE_INFO_PPR_ENTRY_SIZE 30
#define LPA_NUMBER_OF_EXECUTIONS_FOR_CHAINED_GET_RESPONSE 3

/* After a failed execution of an eUICC exchange: when the last error is
 * 0x801E and fewer than 3 executions have run, clears it (with the line
 * "lpaResetErrorCode()..." when traceReset is set), writes the WAR line
 * "<function>: GetResponse chaining issue detected, try another time,
 * nbExecGetResp = <executions left>" and answers true (run again). */
bool lpaManagerRetryAfterChainingIssue(const char *function, int executions, bool traceReset);

/* One count request. */
bool lpaManagerES10c_GetProfilesNumber(size_t *count);

/* The count, executed again (3 executions in all) after a broken GET
 * RESPONSE chain. */
bool lpaManagerGetProfilesNumber(size_t *count);

/* The profile list after a count. Kind 0 fills the caller's array of
 * maxProfileInfo full records; kind 1 frees an array already in the list
 * and allocates count compact records from the engine allocator (the
 * caller frees them). *retryAllowed tells whether a broken chain may be
 * repeated (false when the count itself met one). */
bool lpaManagerES10c_GetProfilesInfo(LpaProfileInfoList *list, bool *retryAllowed, uint8_t kind);

/* The compact list into the caller's array, without a count; records
 * beyond maxProfileInfo are counted in numberProfileInfoFound only. */
bool lpaManagerES10c_GetProfilesInfo_ex(LpaProfileInfoList *list, bool *retryAllowed);

/* A list call (full records, or compact ones for compact = true), executed
 * again (3 executions in all) after a broken GET RESPONSE chain. */
bool lpaManagerGetProfilesInfo(LpaProfileInfoList *list, bool compact);

bool lpaManagerES10c_GetEID(LpaEid *eid);
bool lpaManagerES10c_MemoryReset(const uint8_t *resetOptions, size_t length);
bool lpaManagerES10c_EnableProfileByIccid(const uint8_t *iccid, size_t length);
bool lpaManagerES10c_DisableProfileByIccid(const uint8_t *iccid, size_t length);
bool lpaManagerES10c_DeleteProfileByIccid(const uint8_t *iccid, size_t length);
bool lpaManagerES10c_SetNickname(const uint8_t *iccid, size_t iccidLength, const char *nickname,
                                 size_t nicknameLength);
bool lpaManagerSetNickname(const uint8_t *iccid, size_t iccidLength, const char *nickname,
                           size_t nicknameLength);

/* Enable (BF31), disable (BF32) or delete (BF33) by ICCID. */
bool _doProfileOperationByIccid(uint16_t tag, const uint8_t *iccid, size_t length);

/* Fills one record (kind 0: LpaProfileInfo, kind 1: LpaProfileInfoForPpr)
 * from a profile entry (tag E3). The record is zeroed first and stays zero
 * when the entry is too long or does not decode (false). */
bool _updateProfileInfoFromBerTLV(void *record, const BerTLV *entry, uint8_t kind);

typedef void (*ProfileEntryVisitor)(const BerTLV *entry, void *context);

/* Walks the E3 entries of a GetProfilesInfo answer (BF2D, then A0). False
 * (0x2108) when BF2D or A0 is missing; an empty or undecodable A0 has no
 * entries. */
bool _walkProfileInfoEntries(const uint8_t *data, size_t length, ProfileEntryVisitor visit, void *context);

#ifdef __cplusplus
}
#endif

#endif /* LPA_MANAGER_ES10C_H */
