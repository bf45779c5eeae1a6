// Signing of the cloud requests: nonce, HMAC-SHA256, Base64, the signing
// path and time.
#ifndef HBR_AGENT_CLOUD_SIGN_H
#define HBR_AGENT_CLOUD_SIGN_H

#include <cstddef>
#include <cstdint>
#include <string>

// 16 random bytes into `out`; 0, or -1 (the caller then uses the
// deployment's fallback nonce). Seeds the pool and rewrites the seed file.
int RandNumber(unsigned char *out);

// Base64 of `in` without line breaks. *outLen: capacity in, text length
// out. 0 or -1.
int Base64Encode(const unsigned char *in, size_t inLen, char *out, size_t *outLen);

// HMAC-SHA256 of `data` keyed by `key`. *mdLen: capacity in (at least 64),
// MAC length out. 0 or -1.
int HMACSign(const unsigned char *key, int keyLen, const unsigned char *data, size_t dataLen, unsigned char *md,
             unsigned int *mdLen);

// The 88-character signature: Base64 of the MAC's 64 upper-case hex
// characters. `out` (at least 89 bytes) is written only on 0.
int BuildHBRSignBuffer(const unsigned char *key, size_t keyLen, const unsigned char *data, size_t dataLen,
                       char *out);

// Current Unix time in seconds.
int64_t GetLocalUnixTime();

// The path that is signed: the URL from the character before its first
// "v2". False when there is no such character.
bool SigningPath(const std::string &url, std::string *path);

// The time to sign: the NTP time when it is known (not -1) and the local
// clock is 240 s or more off it, else the local time.
int64_t SigningTime(int64_t localTime, int64_t ntpTime);

// Canonical texts of the two requests.
std::string OperCodeCanonicalText(const std::string &path, int64_t timestamp, const std::string &nonce,
                                  const std::string &iccid, const std::string &sn, const std::string &token);
std::string StatusCanonicalText(const std::string &path, int64_t timestamp, const std::string &nonce,
                                const std::string &eid, const std::string &iccid, const std::string &sn, int type,
                                const std::string &token);

// Lower-case hex of `n` bytes.
std::string LowerHex(const unsigned char *bytes, size_t n);

// When neither RANDFILE nor HOME is set (or both are empty), set RANDFILE
// to ".rnd" in the executable's folder, so the random generator has a seed
// file. Call before any other thread exists.
void SetDefaultRandFile();

// Frees the calling thread's OpenSSL state (its random generators, its
// error queue) now rather than in a destructor that may still be running
// when the process exits. The worker thread calls it as it ends.
void ReleaseThreadCryptoState();

#endif
