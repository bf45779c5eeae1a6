#include "secret_mask.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <mutex>

std::string MaskSecret(const std::string &value)
{
    if (value.empty()) {
        return value;
    }
    if (value.size() > 8) {
        return value.substr(0, 4) + "***";
    }
    return "***";
}

std::string MaskApnCommand(const char *text, size_t length)
{
    if (text == nullptr) {
        return std::string();
    }
    std::string s(text, strnlen(text, length));
    static const char kPrefix[] = "AT+GTPCTPOC=";
    size_t start = s.find(kPrefix);
    if (start == std::string::npos) {
        return s;
    }
    size_t kindAt = start + sizeof(kPrefix) - 1;
    if (kindAt + 2 >= s.size() || (s[kindAt] != '4' && s[kindAt] != '5') || s[kindAt + 1] != ',' ||
        s[kindAt + 2] != '"') {
        return s;
    }
    // The texts are quoted unescaped, so quotes and commas inside them
    // cannot be told from separators. Find the user name's opening quote
    // behind the four numbers that follow the APN, ",<f>,<p1>,<p2>,<auth>,",
    // then take the password from the first "," + quote pair after it to the
    // last quote of the line: a stray separator only widens the mask.
    size_t userOpen = std::string::npos;
    for (size_t q = s.find('"', kindAt + 3); q != std::string::npos && userOpen == std::string::npos;
         q = s.find('"', q + 1)) {
        size_t p = q + 1;
        int numbers = 0;
        while (numbers < 4 && p < s.size() && s[p] == ',') {
            size_t digits = p + 1;
            while (digits < s.size() && isdigit(static_cast<unsigned char>(s[digits]))) {
                ++digits;
            }
            if (digits == p + 1) {
                break;
            }
            p = digits;
            ++numbers;
        }
        if (numbers == 4 && p + 1 < s.size() && s[p] == ',' && s[p + 1] == '"') {
            userOpen = p + 1;
        }
    }
    if (userOpen == std::string::npos) {
        return s;
    }
    size_t separator = s.find("\",\"", userOpen + 1);
    if (separator == std::string::npos) {
        return s;
    }
    size_t passOpen = separator + 2;
    size_t lineEnd = s.find_first_of("\r\n", passOpen + 1);
    if (lineEnd == std::string::npos) {
        lineEnd = s.size();
    }
    size_t passClose = s.rfind('"', lineEnd - 1);
    if (passClose == std::string::npos || passClose <= passOpen) {
        passClose = lineEnd; // no closing quote: the value runs to the line end
    }
    std::string password = s.substr(passOpen + 1, passClose - passOpen - 1);
    return s.substr(0, passOpen + 1) + MaskSecret(password) + s.substr(passClose);
}

std::string MaskApnText(const std::string &text)
{
    size_t from = 0;
    for (int i = 0; i < 4; ++i) {
        from = text.find(',', from);
        if (from == std::string::npos) {
            return text;
        }
        ++from;
    }
    size_t to = text.find(',', from);
    if (to == std::string::npos) {
        return text;
    }
    return text.substr(0, from) + MaskSecret(text.substr(from, to - from)) + text.substr(to);
}

std::string MaskAfterMarker(const std::string &text, const char *marker)
{
    size_t at = text.find(marker);
    if (at == std::string::npos) {
        return text;
    }
    at += std::strlen(marker);
    return text.substr(0, at) + MaskSecret(text.substr(at));
}

namespace {

// End of the JSON string whose opening quote is at `open`: the index of
// its closing quote, or npos.
size_t JsonStringEnd(const std::string &s, size_t open)
{
    for (size_t i = open + 1; i < s.size(); ++i) {
        if (s[i] == '\\') {
            ++i;
        } else if (s[i] == '"') {
            return i;
        }
    }
    return std::string::npos;
}

// The text of a JSON string's contents as a parser reads it, for comparing
// member names: escapes decoded ("to\u006ben" is "token"), a character
// beyond ASCII as '?', and cut at a decoded NUL, where a C string ends.
std::string DecodedName(const std::string &raw)
{
    std::string out;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\\' || i + 1 >= raw.size()) {
            out += raw[i];
            continue;
        }
        const char letter = raw[++i];
        if (letter != 'u') {
            // \" \\ \/ stand for themselves, \b \f \n \r \t for a control
            // character (no name compared here holds one).
            out += letter == '"' || letter == '\\' || letter == '/' ? letter : '\x01';
            continue;
        }
        const std::string digits = raw.substr(i + 1, 4);
        if (digits.size() < 4 || digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
            out += "\\u";
            continue;
        }
        const unsigned long code = std::strtoul(digits.c_str(), nullptr, 16);
        i += 4;
        if (code == 0) {
            break;
        }
        out += code < 0x80 ? static_cast<char>(code) : '?';
    }
    return out;
}

bool SameKey(const std::string &key, const char *name)
{
    if (key.size() != std::strlen(name)) {
        return false;
    }
    for (size_t i = 0; i < key.size(); ++i) {
        char c = key[i];
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
        if (c != name[i]) {
            return false;
        }
    }
    return true;
}

// The JSON masks; `closedValues` false leaves whole values alone and masks
// only those the text breaks off in.
std::string MaskJsonMembers(const std::string &text, bool closedValues)
{
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        size_t open = text.find('"', i);
        if (open == std::string::npos) {
            break;
        }
        size_t close = JsonStringEnd(text, open);
        if (close == std::string::npos) {
            break;
        }
        out.append(text, i, close + 1 - i);
        i = close + 1;
        // A key: a string followed by ':'. Its value, when a string, may be
        // a secret.
        size_t colon = text.find_first_not_of(" \t\r\n", i);
        if (colon == std::string::npos || text[colon] != ':') {
            continue;
        }
        std::string key = DecodedName(text.substr(open + 1, close - open - 1));
        bool token = SameKey(key, "token");
        if (!token && !SameKey(key, "apn")) {
            continue;
        }
        size_t vopen = text.find_first_not_of(" \t\r\n", colon + 1);
        if (vopen == std::string::npos || text[vopen] != '"') {
            continue;
        }
        size_t vclose = JsonStringEnd(text, vopen);
        if (vclose == std::string::npos) {
            // The text breaks off inside the value (a cut reply): what came
            // of it is masked whole, as its separators cannot be trusted.
            out.append(text, i, vopen + 1 - i);
            out += MaskSecret(text.substr(vopen + 1));
            return out;
        }
        if (!closedValues) {
            continue;
        }
        std::string value = text.substr(vopen + 1, vclose - vopen - 1);
        out.append(text, i, vopen + 1 - i);
        // Escapes in an APN text may hide its separators: mask it whole.
        out += token || value.find('\\') != std::string::npos ? MaskSecret(value) : MaskApnText(value);
        out += '"';
        i = vclose + 1;
    }
    out.append(text, i, std::string::npos);
    return out;
}

} // namespace

std::string MaskJsonSecrets(const std::string &text)
{
    return MaskJsonMembers(text, true);
}

std::string MaskCutJsonSecrets(const std::string &text)
{
    return MaskJsonMembers(text, false);
}

namespace {

bool IsAlnum(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

std::mutex g_rememberedLock;

// Guarded by g_rememberedLock; never destroyed, as threads may log while
// the process ends.
std::vector<std::string> &Remembered()
{
    static std::vector<std::string> *remembered = new std::vector<std::string>;
    return *remembered;
}

} // namespace

std::string MaskSecretValues(const std::string &text, const std::vector<std::string> &secrets)
{
    struct Hit {
        size_t at;
        const std::string *secret;
    };
    std::vector<Hit> hits;
    for (const std::string &secret : secrets) {
        if (secret.empty()) {
            continue;
        }
        const bool alnumFront = IsAlnum(secret.front()), alnumBack = IsAlnum(secret.back());
        for (size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 1)) {
            const size_t end = at + secret.size();
            const bool inLongerRun = (alnumFront && at > 0 && IsAlnum(text[at - 1])) ||
                                     (alnumBack && end < text.size() && IsAlnum(text[end]));
            if (!inLongerRun) {
                hits.push_back(Hit{at, &secret});
            }
        }
    }
    if (hits.empty()) {
        return text;
    }
    // Earliest first, the longest of those at one place first.
    std::sort(hits.begin(), hits.end(), [](const Hit &a, const Hit &b) {
        return a.at != b.at ? a.at < b.at : a.secret->size() > b.secret->size();
    });
    std::string out;
    size_t done = 0;
    for (const Hit &hit : hits) {
        const size_t end = hit.at + hit.secret->size();
        if (end <= done) {
            continue; // inside a value already masked
        }
        // One that overlaps the previous one is masked whole after it.
        if (hit.at > done) {
            out.append(text, done, hit.at - done);
        }
        out += MaskSecret(*hit.secret);
        done = end;
    }
    out.append(text, done, std::string::npos);
    return out;
}

void RememberSecret(const std::string &value)
{
    if (value.empty()) {
        return;
    }
    std::lock_guard<std::mutex> guard(g_rememberedLock);
    std::vector<std::string> &remembered = Remembered();
    if (std::find(remembered.begin(), remembered.end(), value) == remembered.end()) {
        remembered.push_back(value);
    }
}

void ForgetSecrets()
{
    std::lock_guard<std::mutex> guard(g_rememberedLock);
    Remembered().clear();
}

std::string MaskRememberedSecrets(const std::string &text)
{
    std::lock_guard<std::mutex> guard(g_rememberedLock);
    const std::vector<std::string> &remembered = Remembered();
    return remembered.empty() ? text : MaskSecretValues(text, remembered);
}
