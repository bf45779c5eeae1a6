// Running one test case in a fresh process.
//
// Some engine state lives for the whole process and cannot be put back
// (for example the configuration file's "loaded" mark). A test that changes
// such state runs its body in a child process: the test binary re-executed
// with --gtest_filter naming just this test. In the parent the helper waits
// for the child and reports its result as this test's result; in the child
// it answers true and the body runs.
//
//   TEST_F(ConfigFileTest, LoadsOnce) {
//       HBR_RUN_IN_FRESH_PROCESS();
//       ... body, runs only in the child ...
//   }
#ifndef HBR_FRESH_PROCESS_H
#define HBR_FRESH_PROCESS_H

#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

#include "test_util.h"

namespace hbr_test {

using EnvironmentList = std::vector<std::pair<std::string, std::string>>;

// True in the child (run the body). In the parent: runs the child with the
// extra environment variables set, fails the current test when the child
// does not pass, skips it when the child skipped, and answers false.
bool RunInFreshProcess(const EnvironmentList &extraEnvironment = {});

// True when this process is the child started for the current test.
bool InFreshProcess();


}  // namespace hbr_test

#define HBR_RUN_IN_FRESH_PROCESS(...)                              \
    do {                                                           \
        if (!::hbr_test::RunInFreshProcess(__VA_ARGS__)) {         \
            return;                                                \
        }                                                          \
    } while (0)

#endif  // HBR_FRESH_PROCESS_H
