#include "sim_isdr.h"

#include <algorithm>
#include <stdexcept>

namespace hbrsim {

namespace {
constexpr uint32_t kGetProfilesInfo = 0xBF2D;
constexpr uint32_t kGetEid = 0xBF3E;
constexpr uint32_t kEnableProfile = 0xBF31;
constexpr uint32_t kDisableProfile = 0xBF32;
constexpr uint32_t kDeleteProfile = 0xBF33;
constexpr uint32_t kMemoryReset = 0xBF34;
constexpr uint32_t kSetNickname = 0xBF29;
constexpr uint32_t kGetAddresses = 0xBF3C;
constexpr uint32_t kSetDefaultDp = 0xBF3F;
constexpr uint32_t kListNotification = 0xBF28;
constexpr uint32_t kRetrieveNotifications = 0xBF2B;
constexpr uint32_t kRemoveNotification = 0xBF30;

constexpr uint8_t kUndefinedError = 127;

Bytes text(const std::string &s)
{
    return Bytes(s.begin(), s.end());
}

Es10Answer result(uint32_t tag, uint8_t code)
{
    return Es10Answer{tlv(tag, tlv(0x80, Bytes{code})), 0x9000};
}

Es10Answer errorForm(uint32_t tag, uint8_t code)
{
    return Es10Answer{tlv(tag, tlv(0x81, Bytes{code})), 0x9000};
}

// The answer a result-code fault gives for a request tag.
Es10Answer faultResult(uint32_t tag, uint8_t code)
{
    switch (tag) {
    case kGetProfilesInfo:
    case kRetrieveNotifications:
    case kListNotification:
        return errorForm(tag, code);
    default:
        return result(tag, code);
    }
}

bool onlyEs10(FaultAction a)
{
    return a == FaultAction::Es10Answer || a == FaultAction::Es10Result;
}

const Bytes kFillerSignature(64, 0x5A);

// The seqNumber of a request: a DER INTEGER (a negative one names no
// notification). False when it is not a DER INTEGER.
bool seqNumberOf(const Tlv &field, int64_t &seq)
{
    return field.tag == 0x80 && readDerInteger(field.value, seq);
}
}  // namespace

Bytes eventBits(NotificationEvent event)
{
    switch (event) {
    case NotificationEvent::Install: return Bytes{0x07, 0x80};
    case NotificationEvent::Enable: return Bytes{0x06, 0x40};
    case NotificationEvent::Disable: return Bytes{0x05, 0x20};
    case NotificationEvent::Delete: return Bytes{0x04, 0x10};
    }
    return Bytes{};
}

bool eventFromBits(const Bytes &bits, NotificationEvent &event)
{
    for (NotificationEvent e : {NotificationEvent::Install, NotificationEvent::Enable, NotificationEvent::Disable,
                                NotificationEvent::Delete}) {
        if (bits == eventBits(e)) {
            event = e;
            return true;
        }
    }
    return false;
}

bool eventFromName(const std::string &name, NotificationEvent &event)
{
    static const std::pair<const char *, NotificationEvent> names[] = {
        {"install", NotificationEvent::Install},
        {"enable", NotificationEvent::Enable},
        {"disable", NotificationEvent::Disable},
        {"delete", NotificationEvent::Delete},
    };
    for (const auto &n : names) {
        if (name == n.first) {
            event = n.second;
            return true;
        }
    }
    return false;
}

Bytes iccidFromDigits(const std::string &digits)
{
    std::string d = digits;
    if (d.size() % 2 != 0) d.push_back('F');
    Bytes swapped;
    if (!fromHex(d, swapped)) {
        throw std::invalid_argument("invalid ICCID digits: " + digits);
    }
    for (uint8_t &b : swapped) b = static_cast<uint8_t>((b << 4) | (b >> 4));
    return swapped;
}

std::string iccidToDigits(const Bytes &iccid)
{
    Bytes swapped = iccid;
    for (uint8_t &b : swapped) b = static_cast<uint8_t>((b << 4) | (b >> 4));
    return toHex(swapped);
}

const NotificationConfig *Profile::configFor(NotificationEvent event) const
{
    for (const NotificationConfig &c : notificationConfig) {
        if (c.event == event) return &c;
    }
    return nullptr;
}

const std::map<uint32_t, Isdr::Handler> &Isdr::handlers()
{
    static const std::map<uint32_t, Handler> table = {
        {kGetProfilesInfo, &Isdr::getProfilesInfo},
        {kGetEid, &Isdr::getEid},
        {kEnableProfile, &Isdr::enableProfile},
        {kDisableProfile, &Isdr::disableProfile},
        {kDeleteProfile, &Isdr::deleteProfile},
        {kMemoryReset, &Isdr::memoryReset},
        {kSetNickname, &Isdr::setNickname},
        {kGetAddresses, &Isdr::getConfiguredAddresses},
        {kSetDefaultDp, &Isdr::setDefaultDpAddress},
        {kListNotification, &Isdr::listNotification},
        {kRetrieveNotifications, &Isdr::retrieveNotificationsList},
        {kRemoveNotification, &Isdr::removeNotification},
    };
    return table;
}

Es10Answer Isdr::process(const Bytes &request, FaultPlan *faults)
{
    // Package segments are not whole TLVs: recognised by their leading tag.
    if (download.isSegment(request)) {
        return download.segment(*this, request);
    }
    Tlv outer;
    if (!parseSingle(request, outer)) {
        return Es10Answer{Bytes{}, 0x6A80};
    }
    if (faults != nullptr) {
        FaultEvent event;
        event.level = FaultLevel::Es10;
        event.es10Tag = outer.tag;
        event.es10Request = &request;
        if (const FaultRule *rule = faults->fire(event, onlyEs10)) {
            if (rule->action == FaultAction::Es10Answer) {
                return Es10Answer{rule->bytes, 0x9000};
            }
            return faultResult(outer.tag, static_cast<uint8_t>(rule->number));
        }
    }
    if (Download::handles(outer.tag)) {
        return download.process(*this, outer);
    }
    auto it = handlers().find(outer.tag);
    if (it == handlers().end()) {
        return Es10Answer{Bytes{}, 0x6A88};
    }
    return (this->*(it->second))(outer);
}

void Isdr::resetSession()
{
    download.reset();
}

Profile *Isdr::findByIccid(const Bytes &iccid)
{
    for (Profile &p : state.profiles) {
        if (p.iccid == iccid) return &p;
    }
    return nullptr;
}

Profile *Isdr::findByAid(const Bytes &aid)
{
    for (Profile &p : state.profiles) {
        if (!p.aid.empty() && p.aid == aid) return &p;
    }
    return nullptr;
}

Profile *Isdr::enabledProfile()
{
    for (Profile &p : state.profiles) {
        if (p.state == 1) return &p;
    }
    return nullptr;
}

Profile *Isdr::selectProfile(const std::vector<Tlv> &identifiers)
{
    if (const Tlv *iccid = findTag(identifiers, 0x5A)) return findByIccid(iccid->value);
    if (const Tlv *aid = findTag(identifiers, 0x4F)) return findByAid(aid->value);
    return nullptr;
}

Profile *Isdr::selectProfileIn(const Tlv &request, bool &wellFormed)
{
    std::vector<Tlv> fields, identifiers;
    const Tlv *a0 = nullptr;
    wellFormed = parseAll(request.value, fields) && (a0 = findTag(fields, 0xA0)) != nullptr &&
                 parseAll(a0->value, identifiers);
    return wellFormed ? selectProfile(identifiers) : nullptr;
}

Bytes Isdr::profileInfo(const Profile &p, const std::vector<uint32_t> *tags) const
{
    auto wanted = [tags](uint32_t tag) {
        return tags == nullptr || std::find(tags->begin(), tags->end(), tag) != tags->end();
    };
    Bytes content;
    if (wanted(0x5A) && !p.iccid.empty()) append(content, tlv(0x5A, p.iccid));
    if (wanted(0x4F) && !p.aid.empty()) append(content, tlv(0x4F, p.aid));
    if (wanted(0x9F70)) append(content, tlv(0x9F70, Bytes{p.state}));
    if (wanted(0x90) && !p.nickname.empty()) append(content, tlv(0x90, text(p.nickname)));
    if (wanted(0x91) && !p.serviceProviderName.empty()) append(content, tlv(0x91, text(p.serviceProviderName)));
    if (wanted(0x92) && !p.profileName.empty()) append(content, tlv(0x92, text(p.profileName)));
    if (wanted(0x93) && p.iconType >= 0) append(content, tlv(0x93, Bytes{static_cast<uint8_t>(p.iconType)}));
    if (wanted(0x94) && !p.icon.empty()) append(content, tlv(0x94, p.icon));
    if (wanted(0x95)) append(content, tlv(0x95, Bytes{p.profileClass}));
    if (wanted(0xB6) && !p.notificationConfig.empty()) {
        Bytes list;
        for (const NotificationConfig &c : p.notificationConfig) {
            append(list, tlv(0x30, {tlv(0x80, eventBits(c.event)), tlv(0x0C, text(c.address))}));
        }
        append(content, tlv(0xB6, list));
    }
    if (wanted(0xB7) && p.owner) {
        Bytes owner = tlv(0x80, p.owner->mccMnc);
        if (!p.owner->gid1.empty()) append(owner, tlv(0x81, p.owner->gid1));
        if (!p.owner->gid2.empty()) append(owner, tlv(0x82, p.owner->gid2));
        append(content, tlv(0xB7, owner));
    }
    if (wanted(0x99) && !p.ppr.empty()) append(content, tlv(0x99, p.ppr));
    return tlv(0xE3, content);
}

Es10Answer Isdr::getProfilesInfo(const Tlv &request)
{
    std::vector<Tlv> fields;
    if (!parseAll(request.value, fields)) {
        return errorForm(kGetProfilesInfo, 1);
    }
    std::vector<uint32_t> tagList;
    const std::vector<uint32_t> *tags = nullptr;
    if (const Tlv *list = findTag(fields, 0x5C)) {
        if (!parseTagList(list->value, tagList)) return errorForm(kGetProfilesInfo, 1);
        tags = &tagList;
    }
    const Tlv *search = findTag(fields, 0xA0);
    std::vector<Tlv> criteria;
    if (search != nullptr && (!parseAll(search->value, criteria) || criteria.size() != 1)) {
        return errorForm(kGetProfilesInfo, 1);
    }
    Bytes entries;
    for (const Profile &p : state.profiles) {
        if (search != nullptr) {
            const Tlv &c = criteria[0];
            bool match = (c.tag == 0x5A && c.value == p.iccid) || (c.tag == 0x4F && c.value == p.aid) ||
                         (c.tag == 0x95 && c.value == Bytes{p.profileClass});
            if (!match) continue;
        }
        append(entries, profileInfo(p, tags));
    }
    return Es10Answer{tlv(kGetProfilesInfo, tlv(0xA0, entries)), 0x9000};
}

Es10Answer Isdr::getEid(const Tlv &)
{
    return Es10Answer{tlv(kGetEid, tlv(0x5A, state.eid)), 0x9000};
}

void Isdr::addNotification(NotificationEvent event, const Profile &profile)
{
    const NotificationConfig *config = profile.configFor(event);
    if (config == nullptr) return;
    Notification n;
    n.seq = state.nextSeq++;
    n.event = event;
    n.address = config->address;
    n.iccid = profile.iccid;
    state.notifications.push_back(n);
}

Es10Answer Isdr::enableProfile(const Tlv &request)
{
    bool wellFormed = true;
    Profile *target = selectProfileIn(request, wellFormed);
    if (!wellFormed) return result(kEnableProfile, kUndefinedError);
    if (target == nullptr) return result(kEnableProfile, 1);
    if (target->state != 0) return result(kEnableProfile, 2);
    Profile *current = enabledProfile();
    if (current != nullptr && current->hasPpr1()) return result(kEnableProfile, 3);
    if (current != nullptr) {
        current->state = 0;
        addNotification(NotificationEvent::Disable, *current);
    }
    target->state = 1;
    addNotification(NotificationEvent::Enable, *target);
    return result(kEnableProfile, 0);
}

Es10Answer Isdr::disableProfile(const Tlv &request)
{
    bool wellFormed = true;
    Profile *target = selectProfileIn(request, wellFormed);
    if (!wellFormed) return result(kDisableProfile, kUndefinedError);
    if (target == nullptr) return result(kDisableProfile, 1);
    if (target->state != 1) return result(kDisableProfile, 2);
    if (target->hasPpr1()) return result(kDisableProfile, 3);
    target->state = 0;
    addNotification(NotificationEvent::Disable, *target);
    return result(kDisableProfile, 0);
}

Es10Answer Isdr::deleteProfile(const Tlv &request)
{
    std::vector<Tlv> identifiers;
    if (!parseAll(request.value, identifiers)) return result(kDeleteProfile, kUndefinedError);
    Profile *target = selectProfile(identifiers);
    if (target == nullptr) return result(kDeleteProfile, 1);
    if (target->state != 0) return result(kDeleteProfile, 2);
    if (target->hasPpr2()) return result(kDeleteProfile, 3);
    Profile removed = *target;
    state.profiles.erase(state.profiles.begin() + (target - state.profiles.data()));
    addNotification(NotificationEvent::Delete, removed);
    return result(kDeleteProfile, 0);
}

Es10Answer Isdr::memoryReset(const Tlv &request)
{
    std::vector<Tlv> fields;
    const Tlv *options = nullptr;
    if (!parseAll(request.value, fields) || (options = findTag(fields, 0x82)) == nullptr ||
        options->value.size() != 2) {
        return result(kMemoryReset, kUndefinedError);
    }
    uint8_t bits = options->value[1];
    bool deleteOperational = (bits & 0x80) != 0;
    bool deleteTest = (bits & 0x40) != 0;
    bool resetAddress = (bits & 0x20) != 0;
    bool changed = false;
    auto before = state.profiles.size();
    state.profiles.erase(std::remove_if(state.profiles.begin(), state.profiles.end(),
                                        [&](const Profile &p) {
                                            return (deleteOperational && p.profileClass == ClassOperational) ||
                                                   (deleteTest && p.profileClass == ClassTest);
                                        }),
                         state.profiles.end());
    changed = state.profiles.size() != before;
    if (resetAddress && state.defaultDpAddress) {
        state.defaultDpAddress.reset();
        changed = true;
    }
    return result(kMemoryReset, changed ? 0 : 1);
}

Es10Answer Isdr::setNickname(const Tlv &request)
{
    std::vector<Tlv> fields;
    const Tlv *iccid = nullptr;
    const Tlv *nickname = nullptr;
    if (!parseAll(request.value, fields) || (iccid = findTag(fields, 0x5A)) == nullptr ||
        (nickname = findTag(fields, 0x90)) == nullptr || nickname->value.size() > 64) {
        return result(kSetNickname, kUndefinedError);
    }
    Profile *p = findByIccid(iccid->value);
    if (p == nullptr) return result(kSetNickname, 1);
    p->nickname.assign(nickname->value.begin(), nickname->value.end());
    return result(kSetNickname, 0);
}

Es10Answer Isdr::getConfiguredAddresses(const Tlv &)
{
    Bytes content;
    if (state.defaultDpAddress) append(content, tlv(0x80, text(*state.defaultDpAddress)));
    if (state.rootDsAddress) append(content, tlv(0x81, text(*state.rootDsAddress)));
    return Es10Answer{tlv(kGetAddresses, content), 0x9000};
}

Es10Answer Isdr::setDefaultDpAddress(const Tlv &request)
{
    std::vector<Tlv> fields;
    const Tlv *address = nullptr;
    if (!parseAll(request.value, fields) || (address = findTag(fields, 0x80)) == nullptr) {
        return result(kSetDefaultDp, kUndefinedError);
    }
    if (address->value.empty()) {
        state.defaultDpAddress.reset();
    } else {
        state.defaultDpAddress = std::string(address->value.begin(), address->value.end());
    }
    return result(kSetDefaultDp, 0);
}

Bytes Isdr::encodeSeq(const Notification &n) const
{
    if (!n.seqBytes.empty()) return n.seqBytes;
    if (state.seqWidth != 0) return encodeUnsignedWidth(n.seq, state.seqWidth);
    return encodeUnsignedMinimal(n.seq);
}

Bytes Isdr::notificationMetadata(const Notification &n) const
{
    Bytes content = tlv(0x80, encodeSeq(n));
    append(content, tlv(0x81, eventBits(n.event)));
    if (n.address) append(content, tlv(0x0C, text(*n.address)));
    if (!n.iccid.empty()) append(content, tlv(0x5A, n.iccid));
    return tlv(0xBF2F, content);
}

Bytes Isdr::pendingNotification(const Notification &n) const
{
    if (!n.pending.empty()) return n.pending;
    if (n.event == NotificationEvent::Install) {
        // A ProfileInstallationResult reporting success.
        Bytes data = concat({tlv(0x80, Bytes(16, 0x00)), notificationMetadata(n), tlv(0x06, hexBytes("2B0601040182E5650101")),
                             tlv(0xA2, tlv(0xA0, tlv(0x30, tlv(0x80, Bytes{0x00}))))});
        return tlv(0xBF37, {tlv(0xBF27, data), tlv(0x5F37, kFillerSignature)});
    }
    const Credentials &c = state.info.credentials;
    return tlv(0x30, {notificationMetadata(n), tlv(0x5F37, kFillerSignature), c.euiccCertificate, c.eumCertificate});
}

Bytes Isdr::euiccInfo1() const
{
    const EuiccInfo &i = state.info;
    Bytes keyIds = i.credentials.ciKeyId.empty() ? Bytes() : tlv(0x04, i.credentials.ciKeyId);
    return tlv(0xBF20, {tlv(0x82, i.svn), tlv(0xA9, keyIds), tlv(0xAA, keyIds)});
}

Bytes Isdr::euiccInfo2() const
{
    const EuiccInfo &i = state.info;
    Bytes keyIds = i.credentials.ciKeyId.empty() ? Bytes() : tlv(0x04, i.credentials.ciKeyId);
    Bytes resources = concat({tlv(0x81, encodeUnsignedMinimal(i.installedApplications)),
                              tlv(0x82, encodeUnsignedMinimal(i.freeNonVolatileMemory)),
                              tlv(0x83, encodeUnsignedMinimal(i.freeVolatileMemory))});
    return tlv(0xBF22, {tlv(0x81, i.profileVersion), tlv(0x82, i.svn), tlv(0x83, i.firmwareVersion),
                        tlv(0x84, resources), tlv(0x85, i.uiccCapability), tlv(0x88, i.rspCapability),
                        tlv(0xA9, keyIds), tlv(0xAA, keyIds), tlv(0x04, i.ppVersion),
                        tlv(0x0C, text(i.sasAcreditationNumber))});
}

namespace {
std::vector<const Notification *> sortedBySeq(const std::vector<Notification> &all)
{
    std::vector<const Notification *> list;
    for (const Notification &n : all) list.push_back(&n);
    std::stable_sort(list.begin(), list.end(), [](const Notification *a, const Notification *b) { return a->seq < b->seq; });
    return list;
}
}  // namespace

Es10Answer Isdr::listNotification(const Tlv &request)
{
    std::vector<Tlv> fields;
    if (!parseAll(request.value, fields)) return errorForm(kListNotification, kUndefinedError);
    const Tlv *filter = findTag(fields, 0x81);
    Bytes entries;
    for (const Notification *n : sortedBySeq(state.notifications)) {
        if (filter != nullptr && filter->value != eventBits(n->event)) continue;
        append(entries, notificationMetadata(*n));
    }
    return Es10Answer{tlv(kListNotification, tlv(0xA0, entries)), 0x9000};
}

Es10Answer Isdr::retrieveNotificationsList(const Tlv &request)
{
    std::vector<Tlv> fields, criteria;
    if (!parseAll(request.value, fields)) return errorForm(kRetrieveNotifications, kUndefinedError);
    const Tlv *search = findTag(fields, 0xA0);
    if (search != nullptr && (!parseAll(search->value, criteria) || criteria.size() != 1)) {
        return errorForm(kRetrieveNotifications, kUndefinedError);
    }
    int64_t seq = 0;
    if (search != nullptr && criteria[0].tag != 0x81 && !seqNumberOf(criteria[0], seq)) {
        return errorForm(kRetrieveNotifications, kUndefinedError);
    }
    // A search that matches nothing answers an empty list.
    Bytes entries;
    for (const Notification *n : sortedBySeq(state.notifications)) {
        if (search != nullptr) {
            const Tlv &c = criteria[0];
            bool match = c.tag == 0x80 ? seq == static_cast<int64_t>(n->seq) : c.value == eventBits(n->event);
            if (!match) continue;
        }
        append(entries, pendingNotification(*n));
    }
    return Es10Answer{tlv(kRetrieveNotifications, tlv(0xA0, entries)), 0x9000};
}

Es10Answer Isdr::removeNotification(const Tlv &request)
{
    std::vector<Tlv> fields;
    int64_t seq = 0;
    if (!parseAll(request.value, fields) || fields.size() != 1 || !seqNumberOf(fields[0], seq)) {
        return result(kRemoveNotification, kUndefinedError);
    }
    for (auto it = state.notifications.begin(); it != state.notifications.end(); ++it) {
        if (static_cast<int64_t>(it->seq) == seq) {
            state.notifications.erase(it);
            return result(kRemoveNotification, 0);
        }
    }
    return result(kRemoveNotification, 1);
}

}  // namespace hbrsim
