#include "sim_download.h"

#include "sim_isdr.h"

#include <algorithm>

namespace hbrsim {

namespace {

constexpr uint32_t kGetEuiccChallenge = 0xBF2E;
constexpr uint32_t kGetEuiccInfo1 = 0xBF20;
constexpr uint32_t kAuthenticateServer = 0xBF38;
constexpr uint32_t kPrepareDownload = 0xBF21;
constexpr uint32_t kCancelSession = 0xBF41;
constexpr uint32_t kGetRat = 0xBF43;
constexpr uint32_t kPackage = 0xBF36;

// bppCommandId values and errorReason values of a failed installation.
constexpr uint8_t kCmdInitialiseSecureChannel = 0;
constexpr uint8_t kCmdConfigureIsdp = 1;
constexpr uint8_t kCmdStoreMetadata = 2;
constexpr uint8_t kCmdReplaceSessionKeys = 4;
constexpr uint8_t kCmdLoadProfileElements = 5;
constexpr uint8_t kReasonIncorrectInputValues = 1;
constexpr uint8_t kReasonInvalidTransactionId = 3;
constexpr uint8_t kReasonIccidAlreadyExists = 9;
constexpr uint8_t kReasonInsufficientMemory = 10;
constexpr uint8_t kReasonUndefined = 127;

const Bytes kDefaultOid = hexBytes("2B0601040182E5650101");

Es10Answer ok(const Bytes &data = Bytes())
{
    return Es10Answer{data, 0x9000};
}

Bytes text(const std::string &s)
{
    return Bytes(s.begin(), s.end());
}

// A request made only of a tag and a length: the length, or false.
bool headerOnly(const Bytes &request, uint32_t expected, size_t &length)
{
    size_t pos = 0;
    uint32_t tag = 0;
    if (!readTag(request.data(), request.size(), pos, tag) || tag != expected) return false;
    // The length runs past this request by design: read it by hand.
    if (pos >= request.size()) return false;
    uint8_t first = request[pos++];
    if (first < 0x80) {
        length = first;
    } else {
        size_t count = first & 0x7F;
        if (count == 0 || count > 3 || pos + count != request.size()) return false;
        length = 0;
        for (size_t i = 0; i < count; ++i) length = (length << 8) | request[pos++];
    }
    return pos == request.size();
}

// InitialiseSecureChannelRequest { remoteOpId 82 (installBoundProfilePackage),
// transactionId 80, controlRefTemplate A6 { keyType 80, keyLen 81, hostId 84 },
// smdpOtpk 5F49, smdpSign 5F37 }, each field once and in this order.
bool initialiseSecureChannelWellFormed(const std::vector<Tlv> &fields)
{
    static const uint32_t order[] = {0x82, 0x80, 0xA6, 0x5F49, 0x5F37};
    if (fields.size() != 5) return false;
    for (size_t i = 0; i < 5; ++i) {
        if (fields[i].tag != order[i]) return false;
    }
    std::vector<Tlv> crt;
    return fields[0].value == Bytes{0x01} && !fields[1].value.empty() && fields[1].value.size() <= 16 &&
           parseAll(fields[2].value, crt) && crt.size() == 3 && crt[0].tag == 0x80 && crt[0].value.size() == 1 &&
           crt[1].tag == 0x81 && crt[1].value.size() == 1 && crt[2].tag == 0x84 && !crt[2].value.empty() &&
           crt[2].value.size() <= 16;
}

uint32_t leadingTag(const Bytes &request)
{
    size_t pos = 0;
    uint32_t tag = 0;
    return readTag(request.data(), request.size(), pos, tag) ? tag : 0;
}

}  // namespace

Bytes registeredIdOf(const Bytes &certificate)
{
    // subjectAltName: GeneralNames, a SEQUENCE of names; registeredID is [8].
    std::vector<Tlv> names;
    Tlv whole;
    Bytes value = certificateExtension(certificate, hexBytes("551D11"));
    if (!parseSingle(value, whole) || whole.tag != 0x30 || !parseAll(whole.value, names)) return Bytes();
    const Tlv *rid = findTag(names, 0x88);
    return rid != nullptr ? rid->value : Bytes();
}

bool Download::handles(uint32_t tag)
{
    return tag == kGetEuiccChallenge || tag == kGetEuiccInfo1 || tag == kAuthenticateServer ||
           tag == kPrepareDownload || tag == kCancelSession || tag == kGetRat;
}

bool Download::isSegment(const Bytes &request) const
{
    if (state != DownloadState::Prepared && state != DownloadState::Loading) return false;
    switch (leadingTag(request)) {
    case kPackage:
    case 0xA0:
    case 0xA1:
    case 0xA2:
    case 0xA3:
    case 0x88:
    case 0x86:
        return true;
    default:
        return false;
    }
}

void Download::reset()
{
    state = DownloadState::Idle;
    prepareAnswerLost_ = false;
    challenge_.clear();
    txid_.clear();
    serverChallenge_.clear();
    serverAddress_.clear();
    matchingId_.clear();
    smdpOid_.clear();
    phase_ = Phase::Bf36;
    segments_ = 0;
    bf36Left_ = a1Left_ = a3Left_ = 0;
    a2Seen_ = false;
    metadata_.clear();
}

Bytes Download::nextBytes(size_t n)
{
    Bytes out(n);
    for (size_t i = 0; i < n; ++i) {
        counter_ = counter_ * 1103515245u + 12345u;
        out[i] = static_cast<uint8_t>(counter_ >> 16);
    }
    return out;
}

Es10Answer Download::process(Isdr &isdr, const Tlv &request)
{
    switch (request.tag) {
    case kGetEuiccChallenge: return getChallenge();
    case kGetEuiccInfo1: return ok(euiccInfo1.empty() ? isdr.euiccInfo1() : euiccInfo1);
    case kAuthenticateServer: return authenticateServer(isdr, request);
    case kPrepareDownload: return prepareDownload(request);
    case kCancelSession: return cancelSession(request);
    default: return getRat(isdr);
    }
}

Es10Answer Download::getChallenge()
{
    reset();
    challenge_ = nextBytes(16);
    state = DownloadState::ChallengeIssued;
    return ok(tlv(kGetEuiccChallenge, tlv(0x80, challenge_)));
}

Es10Answer Download::authenticateServer(Isdr &isdr, const Tlv &request)
{
    std::vector<Tlv> fields, signed1;
    Bytes txid;
    auto error = [&](uint8_t code) {
        return ok(tlv(kAuthenticateServer, tlv(0xA1, {tlv(0x80, txid), tlv(0x02, Bytes{code})})));
    };
    if (!parseAll(request.value, fields) || fields.size() != 5 || fields[0].tag != 0x30 ||
        fields[1].tag != 0x5F37 || fields[2].tag != 0x04 || fields[3].tag != 0x30 || fields[4].tag != 0xA0 ||
        !parseAll(fields[0].value, signed1)) {
        return error(kReasonUndefined);
    }
    const Tlv *id = findTag(signed1, 0x80);
    const Tlv *challenge = findTag(signed1, 0x81);
    const Tlv *address = findTag(signed1, 0x83);
    const Tlv *serverChallenge = findTag(signed1, 0x84);
    if (id == nullptr || challenge == nullptr || address == nullptr || serverChallenge == nullptr) {
        return error(kReasonUndefined);
    }
    txid = id->value;
    const Credentials &credentials = isdr.state.info.credentials;
    if (credentials.euiccCertificate.empty() || credentials.eumCertificate.empty()) return error(kReasonUndefined);
    if (state != DownloadState::ChallengeIssued) return error(4);      // noSessionContext
    if (challenge->value != challenge_) return error(6);               // euiccChallengeMismatch
    std::vector<Tlv> context;
    if (!parseAll(fields[4].value, context) || findTag(context, 0xA1) == nullptr) return error(kReasonUndefined);
    const Tlv *matching = findTag(context, 0x80);

    txid_ = txid;
    serverAddress_ = std::string(address->value.begin(), address->value.end());
    serverChallenge_ = serverChallenge->value;
    matchingId_ = matching != nullptr ? matching->value : Bytes();
    smdpOid_ = registeredIdOf(tlv(fields[3].tag, fields[3].value));
    state = DownloadState::Authenticated;

    Bytes euiccSigned1 = tlv(0x30, {tlv(0x80, txid_), tlv(0x83, address->value), tlv(0x84, serverChallenge_),
                                    isdr.euiccInfo2(), fields[4].value.empty() ? tlv(0xA0, Bytes()) : tlv(0xA0, fields[4].value)});
    const Credentials &c = isdr.state.info.credentials;
    return ok(tlv(kAuthenticateServer,
                  tlv(0xA0, {euiccSigned1, tlv(0x5F37, nextBytes(64)), c.euiccCertificate, c.eumCertificate})));
}

Es10Answer Download::prepareDownload(const Tlv &request)
{
    std::vector<Tlv> fields, signed2;
    Bytes txid;
    auto error = [&](uint8_t code) {
        return ok(tlv(kPrepareDownload, tlv(0xA1, {tlv(0x80, txid), tlv(0x02, Bytes{code})})));
    };
    if (!parseAll(request.value, fields) || fields.size() < 3 || fields[0].tag != 0x30 ||
        fields[1].tag != 0x5F37 || fields.back().tag != 0x30 || !parseAll(fields[0].value, signed2)) {
        return error(kReasonUndefined);
    }
    const Tlv *id = findTag(signed2, 0x80);
    if (id == nullptr) return error(kReasonUndefined);
    txid = id->value;
    // A PrepareDownload whose answer was lost in a broken chain may be asked again.
    bool again = state == DownloadState::Prepared && prepareAnswerLost_;
    if (state != DownloadState::Authenticated && !again) return error(4);  // noSessionContext
    prepareAnswerLost_ = false;
    if (txid != txid_) return error(5);                         // invalidTransactionId
    const Tlv *hashCc = fields.size() == 4 ? &fields[2] : nullptr;
    if (hashCc != nullptr && (hashCc->tag != 0x04 || hashCc->value.size() != 32)) return error(kReasonUndefined);
    Bytes oid = registeredIdOf(tlv(fields.back().tag, fields.back().value));
    if (!oid.empty()) smdpOid_ = oid;
    state = DownloadState::Prepared;
    phase_ = Phase::Bf36;
    segments_ = 0;
    Bytes content = concat({tlv(0x80, txid_), tlv(0x5F49, concat({Bytes{0x04}, nextBytes(64)}))});
    if (hashCc != nullptr) append(content, tlv(0x04, hashCc->value));
    return ok(tlv(kPrepareDownload, tlv(0xA0, {tlv(0x30, content), tlv(0x5F37, nextBytes(64))})));
}

void Download::answerLost(uint32_t requestTag)
{
    if (requestTag == kPrepareDownload && state == DownloadState::Prepared) {
        prepareAnswerLost_ = true;
    }
}

Es10Answer Download::cancelSession(const Tlv &request)
{
    // CancelSessionRequest { transactionId [0], reason [1] INTEGER }; its
    // answer signs EuiccCancelSessionSigned { transactionId [0], smdpOid [1],
    // reason [2] }.
    std::vector<Tlv> fields;
    int64_t reason = 0;
    bool known = state == DownloadState::Authenticated || state == DownloadState::Prepared ||
                 state == DownloadState::Loading;
    if (!parseAll(request.value, fields) || fields.size() != 2 || fields[0].tag != 0x80 || fields[1].tag != 0x81 ||
        !readDerInteger(fields[1].value, reason)) {
        return ok(tlv(kCancelSession, tlv(0x81, Bytes{kReasonUndefined})));
    }
    if (!known || fields[0].value != txid_) {
        return ok(tlv(kCancelSession, tlv(0x81, Bytes{0x05})));  // invalidTransactionId
    }
    Bytes signedPart = tlv(0x30, {tlv(0x80, txid_), tlv(0x81, smdpOid_.empty() ? kDefaultOid : smdpOid_),
                                  tlv(0x82, fields[1].value)});
    reset();
    return ok(tlv(kCancelSession, tlv(0xA0, {signedPart, tlv(0x5F37, nextBytes(64))})));
}

Es10Answer Download::getRat(Isdr &isdr)
{
    return ok(isdr.state.rat);
}

// ---------------------------------------------------------------------------
// Package segments

Bytes Download::pir(Isdr &isdr, const Bytes &finalResult, const Bytes &iccid, bool record)
{
    IsdrState &s = isdr.state;
    Notification n;
    n.seq = s.nextSeq;
    n.event = NotificationEvent::Install;
    n.address = serverAddress_;
    n.iccid = iccid;
    n.seqBytes = knobs.pirSeq;
    Bytes seq = !knobs.pirSeq.empty() ? knobs.pirSeq
                : s.seqWidth != 0    ? encodeUnsignedWidth(n.seq, s.seqWidth)
                                     : encodeUnsignedMinimal(n.seq);
    Bytes metadata = tlv(0xBF2F, {tlv(0x80, seq), tlv(0x81, eventBits(NotificationEvent::Install)),
                                  tlv(0x0C, text(serverAddress_))});
    Bytes data = concat({tlv(0x80, txid_), metadata, tlv(0x06, smdpOid_.empty() ? kDefaultOid : smdpOid_),
                         tlv(0xA2, finalResult)});
    Bytes result = tlv(0xBF37, {tlv(0xBF27, data), tlv(0x5F37, nextBytes(64 + knobs.pirPadding))});
    if (record) {
        ++s.nextSeq;
        n.pending = result;
        s.notifications.push_back(n);
    }
    return result;
}

Es10Answer Download::failInstall(Isdr &isdr, uint8_t commandId, uint8_t reason)
{
    Bytes answer = pir(isdr, tlv(0xA1, {tlv(0x80, Bytes{commandId}), tlv(0x81, Bytes{reason})}), Bytes(), true);
    reset();
    return ok(answer);
}

Es10Answer Download::install(Isdr &isdr)
{
    IsdrState &s = isdr.state;
    Tlv outer;
    std::vector<Tlv> fields;
    if (!parseSingle(metadata_, outer) || outer.tag != 0xBF25 || !parseAll(outer.value, fields) ||
        findTag(fields, 0x5A) == nullptr) {
        return failInstall(isdr, kCmdLoadProfileElements, kReasonIncorrectInputValues);
    }
    if (s.profiles.size() >= knobs.maxProfiles) {
        return failInstall(isdr, kCmdLoadProfileElements, kReasonInsufficientMemory);
    }
    if (knobs.noFinalPir) {
        reset();
        return ok();
    }
    Profile p;
    p.iccid = findTag(fields, 0x5A)->value;
    p.state = 0;
    for (uint32_t n = 0x10;; ++n) {
        Bytes aid = concat({hexBytes("A0000005591010FFFFFFFF89"), encodeUnsignedWidth(n, 3), Bytes{0x00}});
        if (isdr.findByAid(aid) == nullptr) {
            p.aid = aid;
            break;
        }
    }
    auto textOf = [&](uint32_t tag) {
        const Tlv *t = findTag(fields, tag);
        return t != nullptr ? std::string(t->value.begin(), t->value.end()) : std::string();
    };
    p.serviceProviderName = textOf(0x91);
    p.profileName = textOf(0x92);
    if (const Tlv *t = findTag(fields, 0x93); t != nullptr && t->value.size() == 1) p.iconType = t->value[0];
    if (const Tlv *t = findTag(fields, 0x94)) p.icon = t->value;
    if (const Tlv *t = findTag(fields, 0x95); t != nullptr && t->value.size() == 1) p.profileClass = t->value[0];
    if (const Tlv *t = findTag(fields, 0x99)) p.ppr = t->value;
    std::vector<Tlv> configs;
    if (const Tlv *t = findTag(fields, 0xB6); t != nullptr && parseAll(t->value, configs)) {
        for (const Tlv &c : configs) {
            std::vector<Tlv> parts;
            NotificationEvent event;
            if (!parseAll(c.value, parts) || findTag(parts, 0x80) == nullptr ||
                !eventFromBits(findTag(parts, 0x80)->value, event)) {
                continue;
            }
            NotificationConfig config;
            config.event = event;
            if (const Tlv *a = findTag(parts, 0x81)) config.address = std::string(a->value.begin(), a->value.end());
            p.notificationConfig.push_back(config);
        }
    }
    std::vector<Tlv> owner;
    if (const Tlv *t = findTag(fields, 0xB7); t != nullptr && parseAll(t->value, owner) && findTag(owner, 0x80)) {
        ProfileOwner o;
        o.mccMnc = findTag(owner, 0x80)->value;
        if (const Tlv *g = findTag(owner, 0x81)) o.gid1 = g->value;
        if (const Tlv *g = findTag(owner, 0x82)) o.gid2 = g->value;
        p.owner = o;
    }
    s.profiles.push_back(p);
    Bytes answer = pir(isdr, tlv(0xA0, {tlv(0x4F, p.aid), tlv(0x04, hexBytes("300100"))}), p.iccid, true);
    reset();
    return ok(answer);
}

Es10Answer Download::segment(Isdr &isdr, const Bytes &request)
{
    ++segments_;
    if (knobs.badSwSegment == segments_) {
        return Es10Answer{Bytes(), knobs.badSw};
    }
    if (knobs.pirOnSegment == segments_) {
        Bytes final = knobs.pirOnSegmentSuccess
                          ? tlv(0xA0, {tlv(0x4F, hexBytes("A0000005591010FFFFFFFF8900001000")), tlv(0x04, Bytes{0x00})})
                          : tlv(0xA1, {tlv(0x80, Bytes{kCmdStoreMetadata}), tlv(0x81, Bytes{kReasonUndefined})});
        Bytes answer = pir(isdr, final, Bytes(), !knobs.pirOnSegmentSuccess);
        reset();
        return ok(answer);
    }
    return loadSegment(isdr, request);
}

Es10Answer Download::loadSegment(Isdr &isdr, const Bytes &request)
{
    const uint32_t tag = leadingTag(request);
    Tlv whole;
    size_t length = 0;
    switch (phase_) {
    case Phase::Bf36: {
        size_t pos = 0;
        uint32_t outer = 0;
        Tlv bf23;
        std::vector<Tlv> fields;
        if (tag != kPackage || !readTag(request.data(), request.size(), pos, outer)) {
            return failInstall(isdr, kCmdInitialiseSecureChannel, kReasonIncorrectInputValues);
        }
        // BF36 <length of the whole content> then the BF23 TLV.
        Bytes rest;
        size_t headerEnd = pos;
        uint8_t first = pos < request.size() ? request[pos] : 0;
        size_t count = first < 0x80 ? 0 : (first & 0x7F);
        if (pos + 1 + count > request.size() || count > 3) {
            return failInstall(isdr, kCmdInitialiseSecureChannel, kReasonIncorrectInputValues);
        }
        length = first < 0x80 ? first : 0;
        for (size_t i = 0; i < count; ++i) length = (length << 8) | request[pos + 1 + i];
        headerEnd = pos + 1 + count;
        rest.assign(request.begin() + static_cast<long>(headerEnd), request.end());
        if (!parseSingle(rest, bf23) || bf23.tag != 0xBF23 || !parseAll(bf23.value, fields) ||
            rest.size() > length) {
            return failInstall(isdr, kCmdInitialiseSecureChannel, kReasonIncorrectInputValues);
        }
        if (!initialiseSecureChannelWellFormed(fields)) {
            return failInstall(isdr, kCmdInitialiseSecureChannel, kReasonIncorrectInputValues);
        }
        if (fields[1].value != txid_) {
            return failInstall(isdr, kCmdInitialiseSecureChannel, kReasonInvalidTransactionId);
        }
        state = DownloadState::Loading;
        bf36Left_ = length - rest.size();
        phase_ = Phase::A0;
        return ok();
    }
    case Phase::A0: {
        if (!parseSingle(request, whole) || whole.tag != 0xA0 || whole.value.empty() || whole.value[0] != 0x87 ||
            request.size() > bf36Left_) {
            return failInstall(isdr, kCmdConfigureIsdp, kReasonIncorrectInputValues);
        }
        bf36Left_ -= request.size();
        phase_ = Phase::A1Header;
        return ok();
    }
    case Phase::A1Header: {
        if (!headerOnly(request, 0xA1, length) || length == 0 || request.size() + length > bf36Left_) {
            return failInstall(isdr, kCmdStoreMetadata, kReasonIncorrectInputValues);
        }
        bf36Left_ -= request.size() + length;
        a1Left_ = length;
        metadata_.clear();
        phase_ = Phase::Elements88;
        return ok();
    }
    case Phase::Elements88: {
        if (!parseSingle(request, whole) || whole.tag != 0x88 || request.size() > a1Left_) {
            return failInstall(isdr, kCmdStoreMetadata, kReasonIncorrectInputValues);
        }
        append(metadata_, whole.value);
        a1Left_ -= request.size();
        if (a1Left_ > 0) return ok();
        // The metadata is complete: judge its ICCID now.
        Tlv outer;
        std::vector<Tlv> fields;
        const Tlv *iccid = nullptr;
        if (!parseSingle(metadata_, outer) || outer.tag != 0xBF25 || !parseAll(outer.value, fields) ||
            (iccid = findTag(fields, 0x5A)) == nullptr) {
            return failInstall(isdr, kCmdStoreMetadata, kReasonIncorrectInputValues);
        }
        if (isdr.findByIccid(iccid->value) != nullptr) {
            return failInstall(isdr, kCmdStoreMetadata, kReasonIccidAlreadyExists);
        }
        phase_ = Phase::AfterA1;
        return ok();
    }
    case Phase::AfterA1:
        if (tag == 0xA2 && !a2Seen_) {
            if (!parseSingle(request, whole) || whole.value.empty() || whole.value[0] != 0x87 ||
                request.size() > bf36Left_) {
                return failInstall(isdr, kCmdReplaceSessionKeys, kReasonIncorrectInputValues);
            }
            bf36Left_ -= request.size();
            a2Seen_ = true;
            return ok();
        }
        [[fallthrough]];
    case Phase::A3Header:
        if (!headerOnly(request, 0xA3, length) || length == 0 || request.size() + length > bf36Left_) {
            return failInstall(isdr, tag == 0xA2 ? kCmdReplaceSessionKeys : kCmdLoadProfileElements,
                               kReasonIncorrectInputValues);
        }
        bf36Left_ = 0;
        a3Left_ = length;
        phase_ = Phase::Elements86;
        return ok();
    case Phase::Elements86:
        if (!parseSingle(request, whole) || whole.tag != 0x86 || request.size() > a3Left_) {
            return failInstall(isdr, kCmdLoadProfileElements, kReasonIncorrectInputValues);
        }
        a3Left_ -= request.size();
        return a3Left_ > 0 ? ok() : install(isdr);
    }
    return failInstall(isdr, kCmdLoadProfileElements, kReasonUndefined);
}

}  // namespace hbrsim
