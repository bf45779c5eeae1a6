// What hbr-modem-sim saw and sent: one JSON object a line in the records
// file, flushed at once, and a human transcript line on its output.
#ifndef HBRMODEMSIM_RECORD_LOG_H
#define HBRMODEMSIM_RECORD_LOG_H

#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>

namespace hbrmodemsim {

// Record kinds.
extern const char kKindCommand[];        // "command": an AT command received
extern const char kKindReply[];          // "reply": what went back
extern const char kKindNotification[];   // "notification": an unsolicited text sent
extern const char kKindInterfaceState[]; // "interface-state": "arrival" or "removal"
extern const char kKindSessionOpen[];    // "session-open"
extern const char kKindSessionClose[];   // "session-close"
extern const char kKindEs10[];           // "es10": "<request hex> <answer hex>", numbers tag and sw

struct Record {
    int64_t timeMs = 0;         // ms since 1970
    std::string transport;      // "com", "mbn" or "none"
    std::string kind;
    std::string text;           // exact bytes
    std::map<std::string, int64_t> numbers;  // e.g. commandId, requestId, eventId, status
};

// {"time":…,"transport":"…","kind":"…","text":"…",<numbers>}. CR, LF and
// tab are written \r, \n, \t, every other byte outside printable ASCII as
// \u00XX, so every byte comes back exactly.
std::string formatRecord(const Record &record);
// Reads a line written by formatRecord (false when it is not one).
bool parseRecord(const std::string &line, Record &record);

// C escapes: \r \n \t \\ \" \xHH for other control and non-ASCII bytes.
std::string cEscape(const std::string &bytes);
// Reads C escapes: \r \n \t \a \b \f \v \\ \" \' \? \0 and octal \ooo,
// \xHH (one or two digits). False (with the reason) for a bad escape.
bool cUnescape(const std::string &text, std::string &bytes, std::string *error = nullptr);

int64_t nowMs();

// Appends records to a file and transcript lines to an output stream.
// Thread-safe.
class RecordLog {
public:
    RecordLog() = default;
    ~RecordLog();
    RecordLog(const RecordLog &) = delete;
    RecordLog &operator=(const RecordLog &) = delete;

    bool open(const std::string &path, std::string *error);
    void setTranscript(FILE *out);
    void close();
    // Stamps the time when it is 0.
    void add(Record record);
    const std::string &path() const { return path_; }

private:
    std::mutex mutex_;
    FILE *file_ = nullptr;
    FILE *transcript_ = nullptr;
    std::string path_;
};

}  // namespace hbrmodemsim

#endif
