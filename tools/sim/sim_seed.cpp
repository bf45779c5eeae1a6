#include "sim_seed.h"

#include <cjson/cJSON.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace hbrsim {

ProfileBuilder::ProfileBuilder(const std::string &iccidDigits)
{
    profile_.iccid = iccidFromDigits(iccidDigits);
    // An ISD-P AID derived from the ICCID keeps seeded profiles distinct.
    profile_.aid = hexBytes("A0000005591010FFFFFFFF89000010");
    profile_.aid.push_back(profile_.iccid.size() > 8 ? profile_.iccid[8] : 0);
    profile_.aid.push_back(profile_.iccid.size() > 9 ? profile_.iccid[9] : 0);
}

ProfileBuilder &ProfileBuilder::aid(const std::string &hex) { profile_.aid = hexBytes(hex); return *this; }
ProfileBuilder &ProfileBuilder::enabled(bool on) { profile_.state = on ? 1 : 0; return *this; }
ProfileBuilder &ProfileBuilder::profileClass(uint8_t c) { profile_.profileClass = c; return *this; }
ProfileBuilder &ProfileBuilder::nickname(const std::string &t) { profile_.nickname = t; return *this; }
ProfileBuilder &ProfileBuilder::provider(const std::string &t) { profile_.serviceProviderName = t; return *this; }
ProfileBuilder &ProfileBuilder::name(const std::string &t) { profile_.profileName = t; return *this; }
ProfileBuilder &ProfileBuilder::icon(int type, const Bytes &bytes)
{
    profile_.iconType = type;
    profile_.icon = bytes;
    return *this;
}
ProfileBuilder &ProfileBuilder::ppr(const std::string &hex) { profile_.ppr = hexBytes(hex); return *this; }
ProfileBuilder &ProfileBuilder::notifyOn(NotificationEvent event, const std::string &address)
{
    profile_.notificationConfig.push_back(NotificationConfig{event, address});
    return *this;
}
ProfileBuilder &ProfileBuilder::owner(const std::string &mccMnc, const std::string &gid1, const std::string &gid2)
{
    profile_.owner = ProfileOwner{hexBytes(mccMnc), hexBytes(gid1), hexBytes(gid2)};
    return *this;
}

Seed &Seed::eid(const std::string &hex) { isdr.eid = hexBytes(hex); return *this; }
Seed &Seed::profile(const Profile &p) { isdr.profiles.push_back(p); return *this; }
Seed &Seed::notification(uint32_t seq, NotificationEvent event, const std::string &address, const std::string &iccid)
{
    Notification n;
    n.seq = seq;
    n.event = event;
    n.address = address;
    if (!iccid.empty()) n.iccid = iccidFromDigits(iccid);
    isdr.notifications.push_back(n);
    if (seq >= isdr.nextSeq) isdr.nextSeq = seq + 1;
    return *this;
}
Seed &Seed::nextSeq(uint32_t seq) { isdr.nextSeq = seq; return *this; }
Seed &Seed::defaultDpAddress(const std::string &a) { isdr.defaultDpAddress = a; return *this; }
Seed &Seed::rootDsAddress(const std::string &a) { isdr.rootDsAddress = a; return *this; }
Seed &Seed::certificates(const std::string &pkiDir)
{
    std::string error;
    if (!loadCredentials(pkiDir, isdr.info.credentials, &error)) throw std::invalid_argument(error);
    return *this;
}
Seed &Seed::imei(const std::string &digits) { module.imei = digits; return *this; }
Seed &Seed::activeSlot(int slot) { module.activeSlot = slot; return *this; }
Seed &Seed::provIccid(const std::string &text) { module.provIccid = text; return *this; }
Seed &Seed::pocUsageType(int type) { module.pocUsageType = type; return *this; }
Seed &Seed::cchoForm(CchoForm form) { module.cchoForm = form; return *this; }
Seed &Seed::family(Family f) { module.family = f; return *this; }
Seed &Seed::firstChannel(int channel) { euicc.firstChannel = channel; return *this; }

void applySeed(const Seed &seed, Module &module)
{
    module.euicc.isdr.state = seed.isdr;
    module.euicc.config = seed.euicc;
    module.config = seed.module;
    module.sync = seed.sync;
    for (const FaultRule &rule : seed.faults) module.faults().add(rule);
}

namespace {
struct JsonDeleter {
    void operator()(cJSON *j) const { cJSON_Delete(j); }
};

std::string stringField(const cJSON *obj, const char *key, const std::string &fallback)
{
    const cJSON *item = cJSON_GetObjectItemCaseSensitive(obj, key);
    if (cJSON_IsString(item)) return item->valuestring;
    if (item != nullptr && !cJSON_IsNull(item)) throw std::invalid_argument(std::string("\"") + key + "\" must be a string");
    return fallback;
}

bool has(const cJSON *obj, const char *key)
{
    return cJSON_GetObjectItemCaseSensitive(obj, key) != nullptr;
}

double numberField(const cJSON *obj, const char *key, double fallback)
{
    const cJSON *item = cJSON_GetObjectItemCaseSensitive(obj, key);
    if (cJSON_IsNumber(item)) return item->valuedouble;
    if (item != nullptr) throw std::invalid_argument(std::string("\"") + key + "\" must be a number");
    return fallback;
}

bool boolField(const cJSON *obj, const char *key, bool fallback)
{
    const cJSON *item = cJSON_GetObjectItemCaseSensitive(obj, key);
    if (cJSON_IsBool(item)) return cJSON_IsTrue(item);
    if (item != nullptr) throw std::invalid_argument(std::string("\"") + key + "\" must be true or false");
    return fallback;
}

// A key given as null clears an optional address; a missing key keeps it.
void optionalAddress(const cJSON *obj, const char *key, std::optional<std::string> &target)
{
    const cJSON *item = cJSON_GetObjectItemCaseSensitive(obj, key);
    if (item == nullptr) return;
    if (cJSON_IsNull(item)) {
        target.reset();
    } else if (cJSON_IsString(item)) {
        target = std::string(item->valuestring);
    } else {
        throw std::invalid_argument(std::string("\"") + key + "\" must be a string or null");
    }
}

NotificationEvent eventField(const cJSON *obj)
{
    NotificationEvent e;
    std::string name = stringField(obj, "event", "");
    if (!eventFromName(name, e)) throw std::invalid_argument("unknown event \"" + name + "\"");
    return e;
}

Profile profileFromJson(const cJSON *item)
{
    ProfileBuilder b(stringField(item, "iccid", ""));
    Profile p = b.build();
    if (has(item, "aid")) p.aid = hexBytes(stringField(item, "aid", ""));
    p.state = static_cast<uint8_t>(numberField(item, "state", 0));
    p.profileClass = static_cast<uint8_t>(numberField(item, "class", ClassOperational));
    p.nickname = stringField(item, "nickname", "");
    p.serviceProviderName = stringField(item, "serviceProviderName", "");
    p.profileName = stringField(item, "profileName", "");
    p.iconType = static_cast<int>(numberField(item, "iconType", -1));
    p.icon = hexBytes(stringField(item, "icon", ""));
    p.ppr = hexBytes(stringField(item, "ppr", ""));
    const cJSON *configs = cJSON_GetObjectItemCaseSensitive(item, "notificationConfig");
    const cJSON *c = nullptr;
    cJSON_ArrayForEach(c, configs)
    {
        p.notificationConfig.push_back(NotificationConfig{eventField(c), stringField(c, "address", "")});
    }
    const cJSON *owner = cJSON_GetObjectItemCaseSensitive(item, "owner");
    if (cJSON_IsObject(owner)) {
        p.owner = ProfileOwner{hexBytes(stringField(owner, "mccMnc", "")), hexBytes(stringField(owner, "gid1", "")),
                               hexBytes(stringField(owner, "gid2", ""))};
    }
    return p;
}

Notification notificationFromJson(const cJSON *item)
{
    Notification n;
    n.seq = static_cast<uint32_t>(numberField(item, "seq", 0));
    n.seqBytes = hexBytes(stringField(item, "seqHex", ""));
    n.event = eventField(item);
    if (has(item, "address")) n.address = stringField(item, "address", "");
    std::string iccid = stringField(item, "iccid", "");
    if (!iccid.empty()) n.iccid = iccidFromDigits(iccid);
    n.pending = hexBytes(stringField(item, "pending", ""));
    return n;
}

// "euiccInfo": the fields of EUICCInfo1/EUICCInfo2 (hex, numbers, text).
void euiccInfoFromJson(const cJSON *item, EuiccInfo &info)
{
    auto version = [item](const char *key, Bytes &target) {
        if (!has(item, key)) return;
        Bytes v = hexBytes(stringField(item, key, ""));
        if (v.size() != 3) throw std::invalid_argument(std::string("\"") + key + "\" must be 3 bytes");
        target = v;
    };
    version("profileVersion", info.profileVersion);
    version("svn", info.svn);
    version("firmwareVersion", info.firmwareVersion);
    version("ppVersion", info.ppVersion);
    info.installedApplications = static_cast<uint32_t>(numberField(item, "installedApplications", info.installedApplications));
    info.freeNonVolatileMemory = static_cast<uint32_t>(numberField(item, "freeNonVolatileMemory", info.freeNonVolatileMemory));
    info.freeVolatileMemory = static_cast<uint32_t>(numberField(item, "freeVolatileMemory", info.freeVolatileMemory));
    if (has(item, "uiccCapability")) info.uiccCapability = hexBytes(stringField(item, "uiccCapability", ""));
    if (has(item, "rspCapability")) info.rspCapability = hexBytes(stringField(item, "rspCapability", ""));
    info.sasAcreditationNumber = stringField(item, "sasAcreditationNumber", info.sasAcreditationNumber);
    if (info.sasAcreditationNumber.size() > 64) throw std::invalid_argument("\"sasAcreditationNumber\" is longer than 64");
}

// "ciCertificate", "eumCertificate", "euiccCertificate": DER files.
void certificatesFromJson(const cJSON *r, Credentials &c)
{
    std::string error;
    bool ok = (!has(r, "ciCertificate") || readCiKeyId(stringField(r, "ciCertificate", ""), c.ciKeyId, &error)) &&
              (!has(r, "eumCertificate") ||
               readCertificateFile(stringField(r, "eumCertificate", ""), c.eumCertificate, &error)) &&
              (!has(r, "euiccCertificate") ||
               readCertificateFile(stringField(r, "euiccCertificate", ""), c.euiccCertificate, &error));
    if (!ok) throw std::invalid_argument(error);
}

SelectAnswer selectAnswerFromName(const std::string &name)
{
    if (name == "fci") return SelectAnswer::Fci;
    if (name == "bare9000") return SelectAnswer::Bare9000;
    if (name == "t0") return SelectAnswer::T0;
    if (name == "fci91") return SelectAnswer::Fci91;
    throw std::invalid_argument("unknown selectAnswer \"" + name + "\"");
}

CchoForm cchoFormFromName(const std::string &name)
{
    if (name == "bare") return CchoForm::Bare;
    if (name == "echo") return CchoForm::Echo;
    if (name == "crlf") return CchoForm::LeadingCrLf;
    if (name == "prefixed") return CchoForm::Prefixed;
    throw std::invalid_argument("unknown cchoForm \"" + name + "\"");
}

Family familyFromName(const std::string &name)
{
    if (name == "any") return Family::Any;
    if (name == "channel") return Family::Channel;
    if (name == "csim") return Family::Csim;
    throw std::invalid_argument("unknown family \"" + name + "\"");
}
}  // namespace

namespace {
// module.sync {"status": n, "pending": "ACTIVE"} and the "faults" list.
void transportSeedFromJson(const cJSON *r, Seed &out)
{
    const cJSON *sync = cJSON_GetObjectItemCaseSensitive(cJSON_GetObjectItemCaseSensitive(r, "module"), "sync");
    if (cJSON_IsObject(sync)) {
        Module probe;
        if (!probe.setSync(static_cast<int>(numberField(sync, "status", out.sync.status)),
                           stringField(sync, "pending", out.sync.pending))) {
            throw std::invalid_argument("bad module.sync");
        }
        out.sync = probe.sync;
    }
    const cJSON *item = nullptr;
    cJSON_ArrayForEach(item, cJSON_GetObjectItemCaseSensitive(r, "faults"))
    {
        std::unique_ptr<char, void (*)(void *)> text(cJSON_PrintUnformatted(item), cJSON_free);
        FaultRule rule;
        std::string why;
        if (!text || !parseFaultRuleJson(text.get(), rule, &why)) throw std::invalid_argument("faults: " + why);
        out.faults.push_back(rule);
    }
}
}  // namespace

bool parseSeedJson(const std::string &json, Seed &seed, std::string *error)
{
    std::unique_ptr<cJSON, JsonDeleter> root(cJSON_Parse(json.c_str()));
    if (!root || !cJSON_IsObject(root.get())) {
        if (error) *error = "the seed is not a JSON object";
        return false;
    }
    Seed out = seed;
    try {
        const cJSON *r = root.get();
        if (has(r, "eid")) out.isdr.eid = hexBytes(stringField(r, "eid", ""));
        const cJSON *item = nullptr;
        cJSON_ArrayForEach(item, cJSON_GetObjectItemCaseSensitive(r, "profiles"))
        {
            out.isdr.profiles.push_back(profileFromJson(item));
        }
        uint32_t highest = 0;
        cJSON_ArrayForEach(item, cJSON_GetObjectItemCaseSensitive(r, "notifications"))
        {
            out.isdr.notifications.push_back(notificationFromJson(item));
            highest = std::max(highest, out.isdr.notifications.back().seq);
        }
        if (highest >= out.isdr.nextSeq) out.isdr.nextSeq = highest + 1;
        out.isdr.nextSeq = static_cast<uint32_t>(numberField(r, "nextSeq", out.isdr.nextSeq));
        optionalAddress(r, "defaultDpAddress", out.isdr.defaultDpAddress);
        optionalAddress(r, "rootDsAddress", out.isdr.rootDsAddress);
        if (has(r, "rat")) out.isdr.rat = hexBytes(stringField(r, "rat", ""));
        out.isdr.seqWidth = static_cast<size_t>(numberField(r, "seqWidth", 0));
        const cJSON *info = cJSON_GetObjectItemCaseSensitive(r, "euiccInfo");
        if (cJSON_IsObject(info)) euiccInfoFromJson(info, out.isdr.info);
        certificatesFromJson(r, out.isdr.info.credentials);

        const cJSON *e = cJSON_GetObjectItemCaseSensitive(r, "euicc");
        if (cJSON_IsObject(e)) {
            out.euicc.firstChannel = static_cast<int>(numberField(e, "firstChannel", out.euicc.firstChannel));
            out.euicc.channelCount = static_cast<int>(numberField(e, "channelCount", out.euicc.channelCount));
            if (has(e, "manageChannelAnswer")) {
                out.euicc.manageChannelAnswer = static_cast<uint8_t>(numberField(e, "manageChannelAnswer", 0));
            }
            if (has(e, "selectAnswer")) out.euicc.selectAnswer = selectAnswerFromName(stringField(e, "selectAnswer", ""));
            out.euicc.select91Sw2 = static_cast<uint8_t>(numberField(e, "select91Sw2", out.euicc.select91Sw2));
            out.euicc.pieceSize = static_cast<size_t>(numberField(e, "pieceSize", static_cast<double>(out.euicc.pieceSize)));
            out.euicc.t0 = boolField(e, "t0", out.euicc.t0);
            out.euicc.storeDataLimit =
                static_cast<size_t>(numberField(e, "storeDataLimit", static_cast<double>(out.euicc.storeDataLimit)));
        }
        const cJSON *m = cJSON_GetObjectItemCaseSensitive(r, "module");
        if (cJSON_IsObject(m)) {
            // "echo" (true or false) is the older spelling of cchoForm "echo" / "bare".
            if (has(m, "echo")) out.module.cchoForm = boolField(m, "echo", false) ? CchoForm::Echo : CchoForm::Bare;
            if (has(m, "cchoForm")) out.module.cchoForm = cchoFormFromName(stringField(m, "cchoForm", ""));
            out.module.sysstartAfterReset = boolField(m, "sysstartAfterReset", out.module.sysstartAfterReset);
            if (has(m, "family")) out.module.family = familyFromName(stringField(m, "family", ""));
            out.module.imei = stringField(m, "imei", out.module.imei);
            out.module.activeSlot = static_cast<int>(numberField(m, "activeSlot", out.module.activeSlot));
            out.module.provIccid = stringField(m, "provIccid", out.module.provIccid);
            out.module.pocUsageType = static_cast<int>(numberField(m, "pocUsageType", out.module.pocUsageType));
        }
        transportSeedFromJson(r, out);
    } catch (const std::invalid_argument &ex) {
        if (error) *error = ex.what();
        return false;
    }
    seed = out;
    return true;
}

bool loadSeedFile(const std::string &path, Seed &seed, std::string *error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error) *error = "cannot open " + path;
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return parseSeedJson(text.str(), seed, error);
}

}  // namespace hbrsim
