#include "runtime/lpa_hex.h"

#include "runtime/lpa_core_log.h"

static int _hexDigitValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool hexStr2ByteArray(const char *hex, size_t hexLength, uint8_t *out, size_t *outLength)
{
    if (hex == NULL || out == NULL || outLength == NULL) {
        return false;
    }
    if (hexLength <= 1) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "hexStr2ByteArray() => error: inLen <= 1 !");
        return false;
    }
    if ((hexLength % 2) != 0) {
        lpaCoreLog(LPA_LOG_LEVEL_DEB, "hexStr2ByteArray() => error: ptrInHexString not modulo 2 !");
        return false;
    }
    size_t count = hexLength / 2;
    if (count > *outLength) {
        return false;
    }
    for (size_t i = 0; i < count; ++i) {
        int high = _hexDigitValue(hex[2 * i]);
        int low = _hexDigitValue(hex[2 * i + 1]);
        if (high < 0 || low < 0) {
            lpaCoreLog(LPA_LOG_LEVEL_DEB, "hexStr2ByteArray() => error: %c or %c is not hex digit! ",
                       hex[2 * i], hex[2 * i + 1]);
            return false;
        }
        out[i] = (uint8_t)((high << 4) | low);
    }
    *outLength = count;
    return true;
}

size_t byteArray2HexStr(const uint8_t *bytes, size_t length, char *out, size_t capacity)
{
    static const char digits[] = "0123456789ABCDEF";
    if (out != NULL && capacity > 0) {
        out[0] = '\0';
    }
    if (bytes == NULL || out == NULL || length == 0 || capacity == 0 || length > (capacity - 1) / 2) {
        return 0;
    }
    for (size_t i = 0; i < length; ++i) {
        out[2 * i] = digits[bytes[i] >> 4];
        out[2 * i + 1] = digits[bytes[i] & 0x0F];
    }
    out[2 * length] = '\0';
    return 2 * length;
}
