// Small helpers shared by the tests: files, folders, stderr capture.
#ifndef HBR_TEST_UTIL_H
#define HBR_TEST_UTIL_H

#include <functional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace hbr_test {

// Creates a unique folder under $TMPDIR (or /tmp); fails the test on error.
std::string MakeTempDir(const char *prefix = "hbr-test");

// Removes a folder and everything in it (no error when it is missing).
void RemoveTree(const std::string &path);

// The whole file, or "" when it cannot be read.
std::string ReadFile(const std::string &path);

// The file split into lines, without their '\n'.
std::vector<std::string> ReadLines(const std::string &path);

// Writes (replaces) a file.
void WriteFile(const std::string &path, const std::string &content);

bool FileExists(const std::string &path);
long FileSize(const std::string &path);

// Runs fn with file descriptor 2 redirected to a temporary file and
// answers what was written to it.
std::string CaptureStderr(const std::function<void()> &fn);

// The text after "dd/mm/yyyy hh:mm:ss | LVL | " of a log line, or "" when
// the line does not have that layout.
std::string LogMessage(const std::string &line);

// Lines holding needle.
std::vector<std::string> LinesContaining(const std::vector<std::string> &lines, const std::string &needle);

// Index of the first line holding needle at or after from, or -1.
int FindLine(const std::vector<std::string> &lines, const std::string &needle, int from = 0);

// Starts the program at path with the arguments (argument 0 included) and
// the environment (this process's own when NULL), its standard output and
// error on the given descriptors. The child is killed when this process
// ends, so it never outlives a test, even a crashing one. Answers its pid,
// or -1 with a test failure. Open descriptors should be close-on-exec.
pid_t StartChildProcess(const std::string &path, std::vector<std::string> arguments,
                        std::vector<std::string> *environment, int outputFd, int errorFd);

}  // namespace hbr_test

#endif  // HBR_TEST_UTIL_H
