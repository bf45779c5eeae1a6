#include "codec/lpa_base64.h"

static const char base64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

/* The value of one character; "=" and characters outside the alphabet
 * count as 0. */
static uint8_t base64Value(char c)
{
    if (c >= 'A' && c <= 'Z') {
        return static_cast<uint8_t>(c - 'A');
    }
    if (c >= 'a' && c <= 'z') {
        return static_cast<uint8_t>(c - 'a' + 26);
    }
    if (c >= '0' && c <= '9') {
        return static_cast<uint8_t>(c - '0' + 52);
    }
    if (c == '+') {
        return 62;
    }
    if (c == '/') {
        return 63;
    }
    return 0;
}

size_t encodeBase64BufferSize(size_t length)
{
    return 4 * ((length + 2) / 3) + 1;
}

uint32_t encodeBase64(const uint8_t *data, uint32_t length, char *out)
{
    if (out == NULL) {
        return 0;
    }
    if (data == NULL || length == 0) {
        out[0] = '\0';
        return 0;
    }
    uint32_t written = 0;
    uint32_t i = 0;
    for (; length - i >= 3; i += 3) {
        uint32_t group = (uint32_t(data[i]) << 16) | (uint32_t(data[i + 1]) << 8) | data[i + 2];
        out[written++] = base64Alphabet[(group >> 18) & 0x3F];
        out[written++] = base64Alphabet[(group >> 12) & 0x3F];
        out[written++] = base64Alphabet[(group >> 6) & 0x3F];
        out[written++] = base64Alphabet[group & 0x3F];
    }
    if (length - i == 1) {
        uint32_t group = uint32_t(data[i]) << 16;
        out[written++] = base64Alphabet[(group >> 18) & 0x3F];
        out[written++] = base64Alphabet[(group >> 12) & 0x3F];
        out[written++] = '=';
        out[written++] = '=';
    } else if (length - i == 2) {
        uint32_t group = (uint32_t(data[i]) << 16) | (uint32_t(data[i + 1]) << 8);
        out[written++] = base64Alphabet[(group >> 18) & 0x3F];
        out[written++] = base64Alphabet[(group >> 12) & 0x3F];
        out[written++] = base64Alphabet[(group >> 6) & 0x3F];
        out[written++] = '=';
    }
    out[written] = '\0';
    return written;
}

bool decodeBase64(const char *text, size_t length, uint8_t *out, size_t *outLength, size_t capacity)
{
    if (text == NULL || length == 0 || out == NULL || length % 4 != 0 ||
        capacity < length / 4 * 3) {
        return false;
    }
    size_t written = 0;
    for (size_t i = 0; i < length; i += 4) {
        const char c2 = text[i + 2];
        const char c3 = text[i + 3];
        const uint8_t v0 = base64Value(text[i]);
        const uint8_t v1 = base64Value(text[i + 1]);
        const uint8_t v2 = base64Value(c2);
        const uint8_t v3 = base64Value(c3);
        out[written++] = static_cast<uint8_t>((v0 << 2) | (v1 >> 4));
        if (c2 != '=') {
            out[written++] = static_cast<uint8_t>((v1 << 4) | (v2 >> 2));
            if (c3 != '=') {
                out[written++] = static_cast<uint8_t>((v2 << 6) | v3);
            }
        }
    }
    if (written == 0) {
        return false;
    }
    if (outLength != NULL) {
        *outLength = written;
    }
    return true;
}
