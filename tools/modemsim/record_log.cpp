#include "record_log.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace hbrmodemsim {

const char kKindCommand[] = "command";
const char kKindReply[] = "reply";
const char kKindNotification[] = "notification";
const char kKindInterfaceState[] = "interface-state";
const char kKindSessionOpen[] = "session-open";
const char kKindSessionClose[] = "session-close";
const char kKindEs10[] = "es10";

namespace {

const char kHex[] = "0123456789abcdef";

void appendJsonString(std::string &out, const std::string &text)
{
    out.push_back('"');
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(static_cast<char>(c));
        } else if (c == '\r' || c == '\n' || c == '\t') {
            out.push_back('\\');
            out.push_back(c == '\r' ? 'r' : c == '\n' ? 'n' : 't');
        } else if (c < 0x20 || c >= 0x7f) {
            out += "\\u00";
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    out.push_back('"');
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A JSON string at pos as written by appendJsonString (and the other
// simple escapes); \u above 0xFF is refused.
bool readJsonString(const std::string &s, size_t &pos, std::string &out)
{
    if (pos >= s.size() || s[pos] != '"') return false;
    out.clear();
    for (++pos; pos < s.size(); ++pos) {
        char c = s[pos];
        if (c == '"') {
            ++pos;
            return true;
        }
        if (c != '\\') {
            out.push_back(c);
            continue;
        }
        if (++pos >= s.size()) return false;
        switch (s[pos]) {
        case '"': case '\\': case '/': out.push_back(s[pos]); break;
        case 'n': out.push_back('\n'); break;
        case 'r': out.push_back('\r'); break;
        case 't': out.push_back('\t'); break;
        case 'b': out.push_back('\b'); break;
        case 'f': out.push_back('\f'); break;
        case 'u': {
            if (pos + 4 >= s.size()) return false;
            int v = 0;
            for (int i = 1; i <= 4; ++i) {
                int h = hexValue(s[pos + i]);
                if (h < 0) return false;
                v = v * 16 + h;
            }
            if (v > 0xFF) return false;
            out.push_back(static_cast<char>(v));
            pos += 4;
            break;
        }
        default:
            return false;
        }
    }
    return false;
}

void skipBlanks(const std::string &s, size_t &pos)
{
    while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t')) ++pos;
}

}  // namespace

int64_t nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string formatRecord(const Record &r)
{
    std::string out = "{\"time\":" + std::to_string(r.timeMs) + ",\"transport\":";
    appendJsonString(out, r.transport);
    out += ",\"kind\":";
    appendJsonString(out, r.kind);
    out += ",\"text\":";
    appendJsonString(out, r.text);
    for (const auto &n : r.numbers) {
        out.push_back(',');
        appendJsonString(out, n.first);
        out += ":" + std::to_string(n.second);
    }
    out.push_back('}');
    return out;
}

bool parseRecord(const std::string &line, Record &record)
{
    Record r;
    size_t pos = 0;
    skipBlanks(line, pos);
    if (pos >= line.size() || line[pos++] != '{') return false;
    for (bool first = true;; first = false) {
        skipBlanks(line, pos);
        if (pos < line.size() && line[pos] == '}' && first) {
            ++pos;
            break;
        }
        std::string key;
        if (!readJsonString(line, pos, key)) return false;
        skipBlanks(line, pos);
        if (pos >= line.size() || line[pos++] != ':') return false;
        skipBlanks(line, pos);
        if (pos < line.size() && line[pos] == '"') {
            std::string value;
            if (!readJsonString(line, pos, value)) return false;
            if (key == "transport") r.transport = value;
            else if (key == "kind") r.kind = value;
            else if (key == "text") r.text = value;
        } else {
            errno = 0;
            char *end = nullptr;
            long long v = std::strtoll(line.c_str() + pos, &end, 10);
            if (errno != 0 || end == line.c_str() + pos) return false;
            pos = static_cast<size_t>(end - line.c_str());
            if (key == "time") r.timeMs = v;
            else r.numbers[key] = v;
        }
        skipBlanks(line, pos);
        if (pos < line.size() && line[pos] == ',') {
            ++pos;
            continue;
        }
        if (pos < line.size() && line[pos] == '}') {
            ++pos;
            break;
        }
        return false;
    }
    skipBlanks(line, pos);
    if (pos != line.size() || r.kind.empty()) return false;
    record = r;
    return true;
}

std::string cEscape(const std::string &bytes)
{
    std::string out;
    for (unsigned char c : bytes) {
        switch (c) {
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        default:
            if (c < 0x20 || c >= 0x7f) {
                out += "\\x";
                out.push_back(kHex[c >> 4]);
                out.push_back(kHex[c & 15]);
            } else {
                out.push_back(static_cast<char>(c));
            }
        }
    }
    return out;
}

bool cUnescape(const std::string &text, std::string &bytes, std::string *error)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out.push_back(text[i]);
            continue;
        }
        if (++i >= text.size()) {
            if (error) *error = "a lone \\ at the end";
            return false;
        }
        char c = text[i];
        const char *simple = std::strchr("rntabfv\\\"'?", c);
        static const char values[] = "\r\n\t\a\b\f\v\\\"'?";
        if (c != '\0' && simple != nullptr) {
            out.push_back(values[simple - "rntabfv\\\"'?"]);
        } else if (c >= '0' && c <= '7') {
            int v = 0, n = 0;
            while (n < 3 && i < text.size() && text[i] >= '0' && text[i] <= '7') {
                v = v * 8 + (text[i++] - '0');
                ++n;
            }
            --i;
            if (v > 0xFF) {
                if (error) *error = "octal escape above \\377";
                return false;
            }
            out.push_back(static_cast<char>(v));
        } else if (c == 'x' && i + 1 < text.size() && hexValue(text[i + 1]) >= 0) {
            int v = hexValue(text[++i]);
            if (i + 1 < text.size() && hexValue(text[i + 1]) >= 0) v = v * 16 + hexValue(text[++i]);
            out.push_back(static_cast<char>(v));
        } else {
            if (error) *error = std::string("unknown escape \\") + c;
            return false;
        }
    }
    bytes = out;
    return true;
}

RecordLog::~RecordLog()
{
    close();
}

bool RecordLog::open(const std::string &path, std::string *error)
{
    std::lock_guard<std::mutex> lock(mutex_);
    FILE *f = std::fopen(path.c_str(), "ae");
    if (f == nullptr) {
        if (error) *error = "cannot open the records file " + path + ": " + std::strerror(errno);
        return false;
    }
    if (file_ != nullptr) std::fclose(file_);
    file_ = f;
    path_ = path;
    return true;
}

void RecordLog::setTranscript(FILE *out)
{
    std::lock_guard<std::mutex> lock(mutex_);
    transcript_ = out;
}

void RecordLog::close()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
}

void RecordLog::add(Record record)
{
    if (record.timeMs == 0) record.timeMs = nowMs();
    std::lock_guard<std::mutex> lock(mutex_);
    if (file_ != nullptr) {
        std::string line = formatRecord(record) + "\n";
        std::fwrite(line.data(), 1, line.size(), file_);
        std::fflush(file_);
    }
    if (transcript_ != nullptr) {
        std::string line = record.transport + " " + record.kind + " \"" + cEscape(record.text) + "\"";
        for (const auto &n : record.numbers) line += " " + n.first + "=" + std::to_string(n.second);
        std::fprintf(transcript_, "%s\n", line.c_str());
        std::fflush(transcript_);
    }
}

}  // namespace hbrmodemsim
