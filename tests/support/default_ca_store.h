// Filling libcurl's built-in trust store with one chosen CA, for the
// current test only.
//
// A request that names its own CA must trust that CA alone. To show it, a
// test puts another CA where libcurl looks by default (its compiled-in CA
// folder, and its CA file when that lies in the folder) and expects the
// request to be refused. The folder is replaced in a private mount
// namespace of a fresh process (the test binary re-executed for this one
// test), so the machine's own store is never touched:
//
//   TEST_F(SomeTest, TrustsOnlyItsCa) {
//       HBR_RUN_WITH_DEFAULT_CA_STORE(otherCaFile);
//       ... body, runs only in that process ...
//   }
//
// The test is skipped when the namespace or the bind mount is not
// permitted (not root, no CAP_SYS_ADMIN) or libcurl has no built-in store.
#ifndef HBR_DEFAULT_CA_STORE_H
#define HBR_DEFAULT_CA_STORE_H

#include <string>

#include "fresh_process.h"

namespace hbr_test {

// Makes the current thread (and the processes it starts) see a fresh,
// private folder over libcurl's built-in CA folder, holding only the PEM
// certificate in `caFile`: under its subject-hash name "<hash>.0", where
// OpenSSL's folder lookup finds it, and under the name of libcurl's
// built-in CA file when that file lies in the folder (a built-in CA file
// elsewhere is covered by that certificate too; without a built-in folder
// the CA file's own folder is the one replaced). Answers true when done.
// Otherwise false, with the reason in `skipReason` when the machine does
// not allow it (the test should skip), or an empty reason after a test
// failure was added.
bool ReplaceDefaultCaStore(const std::string &caFile, std::string *skipReason);

// A GET of `url` with libcurl's own CA settings: after the replacement it
// succeeds against a server of that CA, which shows the store is in use.
bool GetWithDefaultCaStore(const std::string &url);

}  // namespace hbr_test

#define HBR_RUN_WITH_DEFAULT_CA_STORE(caFile)                                 \
    do {                                                                      \
        HBR_RUN_IN_FRESH_PROCESS();                                           \
        std::string hbrSkipReason;                                            \
        if (!::hbr_test::ReplaceDefaultCaStore((caFile), &hbrSkipReason)) {   \
            if (!hbrSkipReason.empty()) {                                     \
                GTEST_SKIP() << hbrSkipReason;                                \
            }                                                                 \
            return;                                                           \
        }                                                                     \
    } while (0)

#endif  // HBR_DEFAULT_CA_STORE_H
