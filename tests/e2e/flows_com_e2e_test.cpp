// The flows over the COM port: about 2 s of silence per AT command, so few.
#include "flows_e2e.h"

using namespace flows_e2e;

namespace {

TEST_F(FlowsE2E, DeactivationOverTheComPort)
{
    Scenario s;
    s.platform = "0";
    s.channel = "com";
    Start(s);
    Run("DEACTIVE", "AT+GTPCTPOC=0,1\r\n");
    EXPECT_EQ(8ul, State());
    EXPECT_EQ(std::string(kOld) + "F:1:disabled", Euicc("profiles"));
    EXPECT_EQ(0, Requests("BOOTSTRAP") + Requests("CLOUD") + Requests("SMDP"));
    EXPECT_TRUE(worldPtr_->Records("command", "mbn").empty());
    EXPECT_EQ("", Euicc("channels"));
    Stop();
}

} // namespace
