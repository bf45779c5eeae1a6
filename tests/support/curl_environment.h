// libcurl's global initialisation, done once per test program as the host
// program does it (the engine never calls curl_global_init).
#ifndef HBR_CURL_ENVIRONMENT_H
#define HBR_CURL_ENVIRONMENT_H

#include <gtest/gtest.h>

#include <curl/curl.h>

namespace hbr_test {

class CurlEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_EQ(curl_global_init(CURL_GLOBAL_DEFAULT), CURLE_OK); }
    void TearDown() override { curl_global_cleanup(); }
};

// Registers the environment; call once per program (from a namespace-scope initialiser).
inline bool RegisterCurlEnvironment()
{
    static const bool registered = ::testing::AddGlobalTestEnvironment(new CurlEnvironment) != nullptr;
    return registered;
}

}  // namespace hbr_test

#endif  // HBR_CURL_ENVIRONMENT_H
