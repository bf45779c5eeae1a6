// Seeding the simulator: a builder API for tests and a JSON seed file with
// the same fields.
#ifndef HBRSIM_SIM_SEED_H
#define HBRSIM_SIM_SEED_H

#include "sim_euicc.h"
#include "sim_isdr.h"
#include "sim_module.h"

#include <string>
#include <vector>

namespace hbrsim {

class ProfileBuilder {
public:
    explicit ProfileBuilder(const std::string &iccidDigits);
    ProfileBuilder &aid(const std::string &hex);
    ProfileBuilder &enabled(bool on = true);
    ProfileBuilder &profileClass(uint8_t c);
    ProfileBuilder &nickname(const std::string &text);
    ProfileBuilder &provider(const std::string &text);
    ProfileBuilder &name(const std::string &text);
    ProfileBuilder &icon(int type, const Bytes &bytes);
    ProfileBuilder &ppr(const std::string &hex);
    ProfileBuilder &notifyOn(NotificationEvent event, const std::string &address);
    ProfileBuilder &owner(const std::string &mccMncHex, const std::string &gid1Hex = "", const std::string &gid2Hex = "");
    Profile build() const { return profile_; }
    operator Profile() const { return profile_; }

private:
    Profile profile_;
};

struct Seed {
    IsdrState isdr;
    EuiccConfig euicc;
    ModuleConfig module;
    SyncAnswer sync;                // answer to "AT+GTPCTPOC=6" (JSON: module.sync)
    std::vector<FaultRule> faults;  // rules put into the plan (JSON: "faults", parseFaultRuleJson)

    Seed &eid(const std::string &hex);
    Seed &profile(const Profile &p);
    Seed &notification(uint32_t seq, NotificationEvent event, const std::string &address,
                       const std::string &iccidDigits = "");
    Seed &nextSeq(uint32_t seq);
    Seed &defaultDpAddress(const std::string &address);
    Seed &rootDsAddress(const std::string &address);
    // The eUICC's certificates and CI key id from ci.der, eum.der and
    // euicc.der of a PKI folder; throws std::invalid_argument when they
    // cannot be read.
    Seed &certificates(const std::string &pkiDir);
    // The module's own state and reply forms.
    Seed &imei(const std::string &digits);
    Seed &activeSlot(int slot);
    Seed &provIccid(const std::string &text);
    Seed &pocUsageType(int type);
    Seed &cchoForm(CchoForm form);
    Seed &family(Family f);
    Seed &firstChannel(int channel);
};

// Puts the seed into a module (state, eUICC options, module options).
void applySeed(const Seed &seed, Module &module);

// Reads a JSON seed. Missing fields keep their defaults.
bool parseSeedJson(const std::string &json, Seed &seed, std::string *error = nullptr);
bool loadSeedFile(const std::string &path, Seed &seed, std::string *error = nullptr);

}  // namespace hbrsim

#endif
