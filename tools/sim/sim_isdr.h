// The ISD-R of the simulated eUICC: its ES10 state and the request handlers.
// Requests arrive whole (STORE DATA already reassembled); the answer is the
// response data and a status word.
#ifndef HBRSIM_SIM_ISDR_H
#define HBRSIM_SIM_ISDR_H

#include "sim_download.h"
#include "sim_fault.h"
#include "sim_pki.h"
#include "sim_tlv.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace hbrsim {

enum class NotificationEvent : uint8_t { Install = 0, Enable = 1, Disable = 2, Delete = 3 };

// The BIT STRING content of an event: 07 80, 06 40, 05 20, 04 10.
Bytes eventBits(NotificationEvent event);
bool eventFromBits(const Bytes &bits, NotificationEvent &event);
bool eventFromName(const std::string &name, NotificationEvent &event);

// ICCID text (digits, F for padding) to its card order bytes and back.
Bytes iccidFromDigits(const std::string &digits);
std::string iccidToDigits(const Bytes &iccid);

struct NotificationConfig {
    NotificationEvent event = NotificationEvent::Install;
    std::string address;
};

struct ProfileOwner {
    Bytes mccMnc;  // 3 bytes
    Bytes gid1;
    Bytes gid2;
};

enum ProfileClass : uint8_t { ClassTest = 0, ClassProvisioning = 1, ClassOperational = 2 };

struct Profile {
    Bytes iccid;  // 10 bytes, card order
    Bytes aid;    // ISD-P AID
    uint8_t state = 0;  // 0 disabled, 1 enabled
    uint8_t profileClass = ClassOperational;
    std::string nickname;
    std::string serviceProviderName;
    std::string profileName;
    int iconType = -1;  // -1: none
    Bytes icon;
    Bytes ppr;  // content of tag 99 (unused-bits byte and the bits), empty: none
    std::vector<NotificationConfig> notificationConfig;
    std::optional<ProfileOwner> owner;

    bool hasPpr1() const { return ppr.size() >= 2 && (ppr[1] & 0x40) != 0; }
    bool hasPpr2() const { return ppr.size() >= 2 && (ppr[1] & 0x20) != 0; }
    const NotificationConfig *configFor(NotificationEvent event) const;
};

struct Notification {
    uint32_t seq = 0;
    Bytes seqBytes;  // when not empty, sent as the 80 value instead of the minimal encoding of seq
    NotificationEvent event = NotificationEvent::Install;
    std::optional<std::string> address;
    Bytes iccid;     // empty: not known
    Bytes pending;   // the PendingNotification bytes; empty: built from the metadata
};

// What the eUICC tells of itself in EUICCInfo1 and EUICCInfo2, and the
// certificates it sends (by default those of the build tree's test PKI).
struct EuiccInfo {
    Bytes profileVersion = hexBytes("020200");   // VersionType: 3 bytes each
    Bytes svn = hexBytes("020200");              // 2.2.0
    Bytes firmwareVersion = hexBytes("010200");
    uint32_t installedApplications = 0;
    uint32_t freeNonVolatileMemory = 512000;
    uint32_t freeVolatileMemory = 16384;
    // BIT STRING contents (unused-bits byte first): usim, isim, Milenage,
    // TUAK-128/256, Java Card, several USIMs and ISIMs...
    Bytes uiccCapability = hexBytes("066B02C0");
    // ...additionalProfile and testProfileSupport.
    Bytes rspCapability = hexBytes("0490");
    Bytes ppVersion = hexBytes("010000");
    std::string sasAcreditationNumber = "HBR-SAS-TEST-0001";
    Credentials credentials = testPkiCredentials();
};

struct IsdrState {
    Bytes eid = hexBytes("89049032123451234512345678901235");
    std::vector<Profile> profiles;
    std::vector<Notification> notifications;
    uint32_t nextSeq = 1;
    std::optional<std::string> defaultDpAddress;
    std::optional<std::string> rootDsAddress = std::string("lpa.ds.gsma.com");
    Bytes rat = hexBytes("BF4302A000");  // the empty rules table
    // Width of sequence numbers in answers: 0 minimal (DER), otherwise that many bytes.
    size_t seqWidth = 0;
    EuiccInfo info;
};

struct Es10Answer {
    Bytes data;
    uint16_t sw = 0x9000;
};

class Isdr {
public:
    IsdrState state;
    Download download;  // the download session and its requests (sim_download.h)

    // Handles one assembled request. `faults` may be null.
    Es10Answer process(const Bytes &request, FaultPlan *faults);

    // Drops the download session (module reset, channel close).
    void resetSession();

    // Profile lookups.
    Profile *findByIccid(const Bytes &iccid);
    Profile *findByAid(const Bytes &aid);
    Profile *enabledProfile();

    // The metadata (BF2F) of a notification, and its PendingNotification.
    Bytes notificationMetadata(const Notification &n) const;
    Bytes pendingNotification(const Notification &n) const;
    void addNotification(NotificationEvent event, const Profile &profile);

    // EUICCInfo1 (BF20) and EUICCInfo2 (BF22) of state.info.
    Bytes euiccInfo1() const;
    Bytes euiccInfo2() const;

private:
    using Handler = Es10Answer (Isdr::*)(const Tlv &request);
    static const std::map<uint32_t, Handler> &handlers();

    Es10Answer getProfilesInfo(const Tlv &request);
    Es10Answer getEid(const Tlv &request);
    Es10Answer enableProfile(const Tlv &request);
    Es10Answer disableProfile(const Tlv &request);
    Es10Answer deleteProfile(const Tlv &request);
    Es10Answer memoryReset(const Tlv &request);
    Es10Answer setNickname(const Tlv &request);
    Es10Answer getConfiguredAddresses(const Tlv &request);
    Es10Answer setDefaultDpAddress(const Tlv &request);
    Es10Answer listNotification(const Tlv &request);
    Es10Answer retrieveNotificationsList(const Tlv &request);
    Es10Answer removeNotification(const Tlv &request);

    Bytes profileInfo(const Profile &p, const std::vector<uint32_t> *tags) const;
    Bytes encodeSeq(const Notification &n) const;
    Profile *selectProfile(const std::vector<Tlv> &identifiers);
    // The profile named by A0 { 5A / 4F } in an enable or disable request.
    Profile *selectProfileIn(const Tlv &request, bool &wellFormed);
};

}  // namespace hbrsim

#endif
