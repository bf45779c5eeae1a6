#include "codec/lpa_sha256.h"

#include <string.h>

#include <openssl/evp.h>

void sha256Digest(uint8_t out[LPA_SHA256_DIGEST_SIZE], const uint8_t *data, size_t length)
{
    if (out == NULL) {
        return;
    }
    static const uint8_t noData = 0;
    unsigned int digestLength = 0;
    if ((data == NULL && length != 0) ||
        EVP_Digest(data != NULL ? data : &noData, length, out, &digestLength, EVP_sha256(),
                   NULL) != 1 ||
        digestLength != LPA_SHA256_DIGEST_SIZE) {
        memset(out, 0, LPA_SHA256_DIGEST_SIZE);
    }
}
