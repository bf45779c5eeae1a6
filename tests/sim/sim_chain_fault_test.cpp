// Fault rules that pick GET RESPONSE chains by the ES10 request they
// answer: two requests with the same outer tag are told apart by bytes.
#include <gtest/gtest.h>

#include "sim_seed.h"
#include "sim_test_util.h"

namespace hbrsim {
namespace {

const Bytes kCount = hexBytes("BF2D035C015A");
const Bytes kList = hexBytes("BF2D075C055A9F709592");

Euicc threeProfiles()
{
    Euicc e;
    e.config.pieceSize = 16;
    for (const char *iccid : {"89000123456789012341", "89000123456789012358", "89000123456789012366"}) {
        e.isdr.state.profiles.push_back(ProfileBuilder(iccid).name("A fairly long profile name"));
    }
    return e;
}

TEST(SimChainFault, GetResponseRuleMatchesOnlyTheChainOfItsRequest)
{
    Euicc e = threeProfiles();
    int ch = test::openAndSelect(e);
    e.faults.add(FaultRule::apdu(0xC0).inChainOf(kList).statusWord(0x6D00).always());

    // The count's chain is left alone.
    Bytes count = test::es10(e, ch, kCount);
    EXPECT_EQ(test::statusOf(count), 0x9000);
    EXPECT_EQ(test::entriesOf(Bytes(count.begin(), count.end() - 2)).size(), 3u);

    // The list's chain breaks at its first GET RESPONSE, every time.
    for (int i = 0; i < 2; ++i) {
        Bytes list = test::es10(e, ch, kList);
        EXPECT_EQ(test::statusOf(list), 0x6D00) << i;
    }
    EXPECT_EQ(e.faults.rules()[0].fired, 2);

    // And the count still chains cleanly after the list's broken chains.
    EXPECT_EQ(test::statusOf(test::es10(e, ch, kCount)), 0x9000);
}

TEST(SimChainFault, KthGetResponseOfAChainNTimes)
{
    Euicc e = threeProfiles();
    int ch = test::openAndSelect(e);
    e.faults.add(FaultRule::apdu(0xC0).inChainOf(kCount).statusWord(0x6D00).from(2).repeat(1));

    Bytes broken = test::es10(e, ch, kCount);
    EXPECT_EQ(test::statusOf(broken), 0x6D00);
    // The data of the first GET RESPONSE arrived before the break.
    EXPECT_GT(broken.size(), 2u);

    Bytes whole = test::es10(e, ch, kCount);
    EXPECT_EQ(test::statusOf(whole), 0x9000);
    EXPECT_EQ(test::entriesOf(Bytes(whole.begin(), whole.end() - 2)).size(), 3u);
}

}  // namespace
}  // namespace hbrsim
