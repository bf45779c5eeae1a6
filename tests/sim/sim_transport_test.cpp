// The simulated module's side of hbr-modem-sim's transports: the sync
// answer, the COM port's reply shaping, fault rules and seeds from JSON.
#include "sim_module.h"
#include "sim_seed.h"

#include <gtest/gtest.h>

using namespace hbrsim;

namespace {
const std::string kSync = "AT+GTPCTPOC=6\r\n";
const std::string kDefaultAnswer = "\r\n+GTPCTPOC: 0,2\r\n\r\nOK\r\n";

std::string joined(const std::vector<ComPiece> &pieces)
{
    std::string out;
    for (const ComPiece &p : pieces) out += p.bytes;
    return out;
}
}  // namespace

TEST(SimTransport, SyncAnswerStaysUntilChangedAndRecordsCarryTransportAndTime)
{
    Module m;
    EXPECT_EQ(kDefaultAnswer, m.handle(kSync, Transport::Mbn));
    EXPECT_EQ(kDefaultAnswer, m.handle("AT+GTPCTPOC=6"));
    ASSERT_TRUE(m.setSync(1, "ACTIVE"));
    EXPECT_EQ("\r\n+GTPCTPOC: ACTIVE,1\r\n\r\nOK\r\n", m.handle(kSync));
    EXPECT_EQ("\r\n+GTPCTPOC: ACTIVE,1\r\n\r\nOK\r\n", m.handle("AT+GTPCTPOC=6\r"));
    // Refused values leave the answer as it was.
    EXPECT_FALSE(m.setSync(3));
    EXPECT_FALSE(m.setSync(-1));
    EXPECT_FALSE(m.setSync(1, "CHECK"));
    EXPECT_EQ("\r\n+GTPCTPOC: ACTIVE,1\r\n\r\nOK\r\n", m.handle(kSync));
    ASSERT_TRUE(m.setSync(0, "DEACTIVE"));
    EXPECT_EQ("\r\n+GTPCTPOC: DEACTIVE,0\r\n\r\nOK\r\n", m.handle(kSync));
    ASSERT_TRUE(m.setSync(2));
    EXPECT_EQ(kDefaultAnswer, m.handle(kSync));

    const std::vector<AtRecord> &at = m.records().at;
    ASSERT_EQ(7u, at.size());
    EXPECT_EQ(Transport::Mbn, at[0].transport);
    EXPECT_EQ(Transport::None, at[1].transport);
    EXPECT_EQ(kSync, at[0].command);
    // Wall-clock milliseconds, in order.
    EXPECT_GT(at[0].timeMs, 1600000000000LL);
    EXPECT_LE(at[0].timeMs, at[6].timeMs);
}

TEST(SimTransport, ComRulesShapeWhatThePortSends)
{
    Module m;
    std::vector<ComPiece> p = m.comExchange(kSync, false);
    ASSERT_EQ(1u, p.size());
    EXPECT_EQ(kDefaultAnswer, p[0].bytes);
    EXPECT_EQ(0, p[0].delayMs);
    p = m.comExchange(kSync, true);
    ASSERT_EQ(2u, p.size());
    EXPECT_EQ(kSync, p[0].bytes);
    EXPECT_EQ(kDefaultAnswer, p[1].bytes);

    // Pieces from the second matching command on, twice; echo off always.
    m.faults().add(FaultRule::com("GTPCTPOC").comPieces(4, 150).from(2).repeat(2));
    m.faults().add(FaultRule::com().comEcho(false).always());
    EXPECT_EQ(1u, m.comExchange(kSync, true).size());
    for (int i = 0; i < 2; ++i) {
        p = m.comExchange(kSync, true);
        ASSERT_EQ((kDefaultAnswer.size() + 3) / 4, p.size());
        EXPECT_EQ(kDefaultAnswer, joined(p));
        EXPECT_EQ(0, p[0].delayMs);
        EXPECT_EQ(150, p.back().delayMs);
    }
    EXPECT_EQ(1u, m.comExchange(kSync, true).size());

    // A delayed reply comes whole; the echo does not wait.
    m.faults().clear();
    m.faults().add(FaultRule::com().comDelay(300));
    p = m.comExchange(kSync, true);
    ASSERT_EQ(2u, p.size());
    EXPECT_EQ(0, p[0].delayMs);
    EXPECT_EQ(300, p[1].delayMs);

    // Silence: nothing goes back, but the module carried the command out.
    m.faults().add(FaultRule::com("AT+GTPCTPOC=6").comSilence());
    m.setSync(1, "ACTIVE");
    EXPECT_TRUE(m.comExchange(kSync, true).empty());
    EXPECT_EQ(Transport::Com, m.records().at.back().transport);
    EXPECT_EQ("\r\n+GTPCTPOC: ACTIVE,1\r\n\r\nOK\r\n", m.records().at.back().reply);
    // An AT-level silence leaves only the echo.
    m.faults().add(FaultRule::at("GTPCTPOC").silence());
    p = m.comExchange(kSync, true);
    ASSERT_EQ(1u, p.size());
    EXPECT_EQ(kSync, p[0].bytes);
}

TEST(SimTransport, FaultRulesFromJson)
{
    FaultRule r;
    std::string why;
    ASSERT_TRUE(parseFaultRuleJson(R"({"at":"AT+CSIM","action":"reply","text":"\r\nERROR\r\n","times":"always"})", r, &why))
        << why;
    EXPECT_EQ(FaultLevel::At, r.level());
    EXPECT_EQ("AT+CSIM", r.atText);
    EXPECT_EQ("\r\nERROR\r\n", r.text);
    EXPECT_EQ(-1, r.times);
    ASSERT_TRUE(parseFaultRuleJson(R"({"ins":"0xE2","channel":1,"action":"status-word","number":"0x6A88","from":2})", r));
    EXPECT_EQ(FaultAction::StatusWord, r.action);
    EXPECT_EQ(0xE2, r.ins);
    EXPECT_EQ(1, r.channel);
    EXPECT_EQ(0x6A88, r.number);
    EXPECT_EQ(2, r.fromOccurrence);
    ASSERT_TRUE(parseFaultRuleJson(R"({"es10Tag":"BF2D","action":"es10-answer","hex":"bf2d0100"})", r));
    EXPECT_EQ(FaultLevel::Es10, r.level());
    EXPECT_EQ(0xBF2Du, r.es10Tag);
    EXPECT_EQ(hexBytes("BF2D0100"), r.bytes);
    ASSERT_TRUE(parseFaultRuleJson(R"({"action":"com-pieces","number":4,"ms":150,"times":3})", r));
    EXPECT_TRUE(r.isCom());
    EXPECT_EQ(4, r.number);
    EXPECT_EQ(150, r.delayMs);
    EXPECT_EQ(3, r.times);
    ASSERT_TRUE(parseFaultRuleJson(
        R"({"request":"SET_COMMAND","at":"GTPCTPOC","action":"response-hr","number":"0x8000000A"})", r));
    EXPECT_EQ(FaultLevel::Transport, r.level());
    EXPECT_FALSE(r.isCom());
    EXPECT_EQ("SET_COMMAND", r.request);
    EXPECT_EQ(0x8000000A, r.number);
    ASSERT_TRUE(parseFaultRuleJson(R"({"request":"OPEN_SESSION","action":"completion-delay","ms":12000})", r));
    EXPECT_EQ(FaultAction::MbnCompletionDelay, r.action);
    EXPECT_EQ(12000, r.delayMs);

    // Refusals name the reason and leave the rule alone.
    r = FaultRule();
    for (const char *bad : {"not json", "[]", R"({"at":"x"})", R"({"action":"explode"})",
                            R"({"action":"silence","colour":"red"})", R"({"action":"com-pieces","number":0})",
                            R"({"action":"com-delay","ms":-1})", R"({"action":"reply","request":"SET_COMMAND"})",
                            R"({"action":"response-hr","request":"GET_COFFEE"})",
                            R"({"action":"status-word","number":"12x"})", R"({"action":"payload-form","number":3})",
                            R"({"action":"es10-answer","hex":"ABC"})", R"({"action":"silence","times":1e30})",
                            R"({"action":"response-hr","number":1e300})"}) {
        why.clear();
        EXPECT_FALSE(parseFaultRuleJson(bad, r, &why)) << bad;
        EXPECT_FALSE(why.empty()) << bad;
    }
    EXPECT_EQ(FaultAction::ReplaceReply, r.action);
    EXPECT_TRUE(r.atText.empty());

    // The seed carries the sync answer and rules.
    Seed seed;
    ASSERT_TRUE(parseSeedJson(R"({"module":{"sync":{"status":1,"pending":"DEACTIVE"}},
                                  "faults":[{"at":"GTPCTPOC","action":"reply","text":"\r\nERROR\r\n","from":2}]})",
                              seed, &why))
        << why;
    Module m;
    applySeed(seed, m);
    EXPECT_EQ("\r\n+GTPCTPOC: DEACTIVE,1\r\n\r\nOK\r\n", m.handle(kSync));
    EXPECT_EQ("\r\nERROR\r\n", m.handle(kSync));
    EXPECT_FALSE(parseSeedJson(R"({"faults":[{"action":"nope"}]})", seed, &why));
    EXPECT_NE(std::string::npos, why.find("faults"));
    EXPECT_FALSE(parseSeedJson(R"({"module":{"sync":{"status":7}}})", seed, &why));
}
