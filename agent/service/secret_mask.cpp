#include "secret_mask.h"

#include <cstring>

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
    if (kindAt >= s.size() || (s[kindAt] != '4' && s[kindAt] != '5') || kindAt + 1 >= s.size() ||
        s[kindAt + 1] != ',') {
        return s;
    }
    // The password is the eighth field: the last quoted value of the command.
    size_t close = s.rfind('"');
    if (close == std::string::npos || close <= kindAt) {
        return s;
    }
    size_t open = s.rfind('"', close - 1);
    if (open == std::string::npos || open <= kindAt) {
        return s;
    }
    // Count the fields before the opening quote: it must be the eighth.
    size_t commas = 0;
    bool quoted = false;
    for (size_t i = kindAt; i < open; ++i) {
        if (s[i] == '"') {
            quoted = !quoted;
        } else if (s[i] == ',' && !quoted) {
            ++commas;
        }
    }
    if (commas != 7) {
        return s;
    }
    std::string password = s.substr(open + 1, close - open - 1);
    return s.substr(0, open + 1) + MaskSecret(password) + s.substr(close);
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

} // namespace

std::string MaskJsonSecrets(const std::string &text)
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
        std::string key = text.substr(open + 1, close - open - 1);
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
            continue;
        }
        std::string value = text.substr(vopen + 1, vclose - vopen - 1);
        out.append(text, i, vopen + 1 - i);
        out += token ? MaskSecret(value) : MaskApnText(value);
        out += '"';
        i = vclose + 1;
    }
    out.append(text, i, std::string::npos);
    return out;
}
