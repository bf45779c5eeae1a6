// Fixture for tests of the agent's AT routines and the engine's transport:
// a fresh work object (platform type chosen per test), the in-process AT
// transport over a simulated module, and, on demand, liblpa.so on a temp
// folder, driving the module through the agent's writers.
#ifndef HBR_AGENT_TRANSPORT_FIXTURE_H
#define HBR_AGENT_TRANSPORT_FIXTURE_H

#include "agent_fixture.h"
#include "at_test_transport.h"

#include "agent_alloc.h"
#include "apdu_writers.h"
#include "lpa.h"

#include <memory>
#include <string>
#include <vector>

class AgentTransportTest : public AgentTest {
protected:
    void SetUp() override
    {
        AgentTest::SetUp();
        work_.reset(new CStateWork);
        CStateWork::SetInstanceForTest(work_.get());
        ResetApduWritersForTest();
        UseSeed(hbrsim::Seed());
    }
    void TearDown() override
    {
        if (lpaIsInitialized()) {
            lpaUninitialize();
        }
        transport_.reset();
        SetAgentAllocFaultForTest(0, 0);
        ResetApduWritersForTest();
        CStateWork::SetInstanceForTest(nullptr);
        work_.reset();
        AgentTest::TearDown();
    }

    // A fresh module with this seed behind the transport.
    void UseSeed(const hbrsim::Seed &seed)
    {
        transport_.reset();
        transport_.reset(new AtTestTransport(seed));
    }
    void SetPlatform(int32_t type) { work_->m_platType = type; }

    // Starts liblpa.so on a temp folder, its long waits shortened.
    void StartEngine()
    {
        engineDir_.reset(new hbrtest::TempDir);
        divisor_.reset(new hbrtest::ScopedEnv("HBR_SLEEP_DIVISOR", "1000"));
        ASSERT_TRUE(lpaInitializeWithInputOutputFolder(engineDir_->path().c_str(), engineDir_->path().c_str()));
    }
    std::string EngineLog() const { return hbrtest::ReadFile(*engineDir_ / "lpa.log"); }
    // The agent log's whole text (messages may span lines).
    std::string AgentLogText() const { return hbrtest::ReadFile(log_->LogPath()); }

    hbrsim::Module &Sim() { return transport_->module; }
    AtTestTransport &Transport() { return *transport_; }
    std::vector<std::string> Sent() const { return transport_->sentTexts(); }

    std::unique_ptr<CStateWork> work_;
    std::unique_ptr<AtTestTransport> transport_;
    std::unique_ptr<hbrtest::TempDir> engineDir_;
    std::unique_ptr<hbrtest::ScopedEnv> divisor_;
};

#endif
