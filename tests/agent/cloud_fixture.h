// Fixture for the cloud client's tests: the AgentTest log and registry, a
// fresh work object (its test code), a temp seed file, no proxies, and,
// on request, the local cloud servers with HBR_NTP_SERVER pointing at the
// SNTP server. Everything is restored in TearDown.
#ifndef HBR_AGENT_CLOUD_FIXTURE_H
#define HBR_AGENT_CLOUD_FIXTURE_H

#include "agent_fixture.h"
#include "cloud_servers.h"
#include "curl_environment.h"

#include <cloud_context.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

class CloudTest : public AgentTest {
protected:
    void SetUp() override
    {
        AgentTest::SetUp();
        work_.reset(new CStateWork);
        CStateWork::SetInstanceForTest(work_.get());
        tmp_.reset(new hbrtest::TempDir);
        randFile_ = *tmp_ / "seed.rnd";
        SetEnv("RANDFILE", randFile_.c_str());
        for (const char *proxy : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY", "all_proxy"}) {
            SetEnv(proxy, nullptr);
        }
        SetEnv("HBR_NTP_SERVER", "127.0.0.1:1");
    }
    void TearDown() override
    {
        servers_.Stop();
        work_->m_testRetryErrorCode = 0;
        CStateWork::SetInstanceForTest(nullptr);
        work_.reset();
        while (!env_.empty()) {
            env_.pop_back();
        }
        tmp_.reset();
        AgentTest::TearDown();
    }

    // Sets (null: unsets) a variable until TearDown.
    void SetEnv(const char *name, const char *value) { env_.emplace_back(new hbrtest::ScopedEnv(name, value)); }

    bool StartServers(const hbr_test::CloudServerSettings &settings = hbr_test::CloudServerSettings())
    {
        if (!servers_.Start(tmp_->path(), settings)) {
            return false;
        }
        SetEnv("HBR_NTP_SERVER", servers_.NtpServer().c_str());
        ctx_.serviceUrl = servers_.OperCodeUrl();
        ctx_.pecUrl = servers_.StatusUrl();
        ctx_.token = settings.token;
        return true;
    }

    // Hands `text` to a reply parser in a heap buffer of exactly its length,
    // without a terminator.
    size_t Feed(size_t (*parser)(void *, size_t, size_t, void *), const std::string &text)
    {
        std::unique_ptr<char[]> bytes(new char[text.size() ? text.size() : 1]);
        std::memcpy(bytes.get(), text.data(), text.size());
        return parser(bytes.get(), 1, text.size(), &ctx_);
    }

    std::string Log() const { return hbrtest::ReadFile(log_->LogPath()); }

    std::unique_ptr<CStateWork> work_;
    std::unique_ptr<hbrtest::TempDir> tmp_;
    std::vector<std::unique_ptr<hbrtest::ScopedEnv>> env_;
    std::string randFile_;
    hbr_test::CloudServers servers_;
    IotServiceFlowContext ctx_;
};

// Skips the test when the deployment data has no server material (an
// external deployment folder), else starts the servers.
#define HBR_START_CLOUD_SERVERS(...)                                                            \
    do {                                                                                        \
        if (!hbr_test::CloudServers::HaveServerMaterial()) {                                    \
            GTEST_SKIP() << "external deployment data: no test server material";                \
        }                                                                                       \
        ASSERT_TRUE(StartServers(__VA_ARGS__));                                                 \
    } while (0)

#endif
