/*
 * Download example: one profile download end to end through the public lpa
 * API of liblpa.so. The AT transport is the simulated module's seam, whose
 * eUICC starts with one enabled provisioning profile; the SM-DP+ is the
 * server named by the activation code (the demo starts the local test
 * SM-DP+).
 *
 *   lpa_download_example <folder> <activation code> <CA file>
 *
 * The engine reads and writes its files in <folder> (lpa.log) and checks
 * the SM-DP+'s TLS certificate against <CA file> (the certPath parameter).
 * The simulated eUICC sends the certificates of the test PKI that holds
 * <CA file> (ci.der, eum.der, euicc.der beside it).
 * Prints the EID, the profile list before, the download's progress and
 * result, and the profile list after. Exits 0 only when the download
 * succeeded and the new profile is listed.
 */
#include <stdio.h>
#include <string.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "lpa.h"
#include "sim_seam.h"

namespace {

/* A DeviceInfo the eUICC receives in ctxParams1: a TAC and no capabilities. */
const char kDeviceInfoTlv[] = "A108800435290611A100";

/* The simulated eUICC of a device as it leaves the factory: its EID, its
 * certificates from the PKI folder, and one provisioning profile, enabled. */
bool seedSimulator(const char *caFile)
{
    std::string pki(caFile);
    size_t slash = pki.find_last_of('/');
    pki = slash == std::string::npos ? "." : pki.substr(0, slash);
    hbrsim::Seed seed;
    try {
        seed.certificates(pki);
    } catch (const std::invalid_argument &e) {
        fprintf(stderr, "cannot read the eUICC's certificates: %s\n", e.what());
        return false;
    }
    seed.eid("89049032123451234512345678901235");
    seed.profile(hbrsim::ProfileBuilder("8944000000000000019")
                     .enabled()
                     .profileClass(1)
                     .name("Bootstrap")
                     .provider("Hollowbright"));
    hbrsim::seam::reset(seed);
    return true;
}

/* ICCID digits from the card's nibble-swapped BCD bytes ('F' filler dropped). */
void iccidText(const LpaProfileInfo &p, char *out, size_t size)
{
    static const char hex[] = "0123456789ABCDEF";
    size_t n = 0;
    for (size_t i = 0; i < p.iccidLength && n + 2 < size; ++i) {
        char low = hex[p.iccid[i] & 0x0F];
        char high = hex[p.iccid[i] >> 4];
        out[n++] = low;
        if (high != 'F') out[n++] = high;
    }
    out[n] = '\0';
}

const char *stateName(const LpaProfileInfo &p)
{
    if (p.profileStateLength == 0) return "-";
    return p.profileState[0] == 1 ? "enabled" : "disabled";
}

const char *className(const LpaProfileInfo &p)
{
    static const char *const names[] = {"test", "provisioning", "operational"};
    if (p.profileClassLength == 0) return "-";
    return p.profileClass[0] < 3 ? names[p.profileClass[0]] : "?";
}

void reportError(const char *call)
{
    uint32_t code = lpaGetErrorCode();
    fprintf(stderr, "%s failed: 0x%06X %s\n", call, (unsigned)code, lpaGetErrorCodeDescription(code));
}

/* Prints the profile list; answers the number of profiles, -1 on failure. */
long printProfiles(const char *title)
{
    std::vector<LpaProfileInfo> records(8);
    LpaProfileInfoList list = {0, 0, records.size(), records.data()};
    if (!lpaGetProfilesInfo(&list)) {
        reportError("lpaGetProfilesInfo");
        return -1;
    }
    printf("%s: %d profile(s)\n", title, (int)list.countProfileInfo);
    printf("  %-20s  %-24s  %-8s  %s\n", "ICCID", "name", "state", "class");
    for (size_t i = 0; i < list.countProfileInfo; ++i) {
        const LpaProfileInfo &p = records[i];
        char iccid[21];
        iccidText(p, iccid, sizeof(iccid));
        printf("  %-20s  %-24.*s  %-8s  %s\n", iccid, (int)p.profileNameLength, p.profileName, stateName(p),
               className(p));
    }
    return (long)list.countProfileInfo;
}

void onProgress(void *userData, int phase, const char *text)
{
    int *calls = static_cast<int *>(userData);
    ++*calls;
    printf("  progress %d: %s\n", phase, text != NULL ? text : "");
}

void onExecutionError(void *userData, const LpaEventExecutionError *event)
{
    (void)userData;
    printf("  execution error (source %d): subject %s, reason %s, %s\n", (int)event->source,
           event->subjectCode != NULL ? event->subjectCode : "-", event->reasonCode != NULL ? event->reasonCode : "-",
           event->text != NULL ? event->text : "-");
}

/* Everything between initialisation and uninitialisation. */
bool run(const char *activationCode, const char *caFile)
{
    if (!lpaSetConfigParameter("certPath", LPA_PARAMETER_TYPE_STRING, caFile) ||
        !lpaSetConfigParameter("deviceInfoTlv", LPA_PARAMETER_TYPE_STRING, kDeviceInfoTlv)) {
        reportError("lpaSetConfigParameter");
        return false;
    }

    LpaEid eid;
    memset(&eid, 0, sizeof(eid));
    if (!lpaGetEID(&eid)) {
        reportError("lpaGetEID");
        return false;
    }
    printf("EID: ");
    for (size_t i = 0; i < eid.eidLength && i < sizeof(eid.eid); ++i) printf("%02X", eid.eid[i]);
    printf("\n\n");

    long before = printProfiles("Profiles before");
    if (before < 0) return false;

    printf("\nDownloading %s\n", activationCode);
    int progressCalls = 0;
    LpaDownloadCallbacks callbacks;
    memset(&callbacks, 0, sizeof(callbacks));
    callbacks.userData = &progressCalls;
    callbacks.progress = onProgress;
    callbacks.executionError = onExecutionError;
    LpaOperationResult result = {0, 0};
    bool ok = lpaDownloadProfile(activationCode, &callbacks, &result);
    uint32_t code = lpaGetErrorCode();
    printf("Download %s: %d progress step(s), %d installed of %d; error 0x%06X %s\n\n",
           ok ? "succeeded" : "FAILED", progressCalls, (int)result.first, (int)result.second, (unsigned)code,
           lpaGetErrorCodeDescription(code));

    long after = printProfiles("Profiles after");
    return ok && after == before + 1;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: %s <folder> <activation code> <CA file>\n", argv[0]);
        return 2;
    }
    if (!seedSimulator(argv[3])) {
        return 1;
    }

    const LpaApiVersion *api = lpaGetApiVersion();
    LpaVersion version;
    memset(&version, 0, sizeof(version));
    lpaGetVersion(&version);
    printf("LPA engine %u.%u.%u.%u, API %u.%u\n", (unsigned)version.major, (unsigned)version.minor,
           (unsigned)version.revision, (unsigned)version.build, (unsigned)api->major, (unsigned)api->minor);

    if (!lpaInitializeWithInputOutputFolder(argv[1], argv[1])) {
        reportError("lpaInitializeWithInputOutputFolder");
        return 1;
    }
    bool ok = run(argv[2], argv[3]);
    if (!lpaUninitialize()) {
        fprintf(stderr, "lpaUninitialize failed\n");
        ok = false;
    }
    printf("\nexample: %s\n", ok ? "profile downloaded and listed" : "download did not complete");
    return ok ? 0 : 1;
}
