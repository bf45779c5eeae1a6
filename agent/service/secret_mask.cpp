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
