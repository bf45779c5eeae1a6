#include "secret_mask.h"

#include <cctype>
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
