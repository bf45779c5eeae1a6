// Helpers of the simulator's own tests: talk to a simulated eUICC the way
// a host does (STORE DATA blocks, GET RESPONSE chains).
#ifndef HBRSIM_TEST_UTIL_H
#define HBRSIM_TEST_UTIL_H

#include "sim_euicc.h"
#include "sim_tlv.h"

#include <algorithm>
#include <vector>

namespace hbrsim {
namespace test {

inline bool contains(const Bytes &hay, const Bytes &needle)
{
    return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
}

// The elements inside <outer tag> { A0 { ... } }.
inline std::vector<Tlv> entriesOf(const Bytes &answer)
{
    Tlv outer, a0;
    std::vector<Tlv> list;
    if (parseSingle(answer, outer) && parseSingle(outer.value, a0)) parseAll(a0.value, list);
    return list;
}

inline uint16_t statusOf(const Bytes &r)
{
    return r.size() < 2 ? 0 : static_cast<uint16_t>(r[r.size() - 2] << 8 | r[r.size() - 1]);
}

// Follows 61 xx with GET RESPONSE; returns data and the final status word.
inline Bytes collect(Euicc &e, int channel, Bytes response)
{
    Bytes data(response.begin(), response.end() - 2);
    while (response.size() >= 2 && response[response.size() - 2] == 0x61) {
        response = e.transmit(Bytes{Euicc::claForChannel(0x00, channel), 0xC0, 0x00, 0x00, response.back()});
        data.insert(data.end(), response.begin(), response.end() - 2);
    }
    append(data, Bytes(response.end() - 2, response.end()));
    return data;
}

inline int openAndSelect(Euicc &e)
{
    Bytes r = e.transmit(hexBytes("0070000001"));
    int ch = r[0];
    Bytes select{Euicc::claForChannel(0x00, ch), 0xA4, 0x04, 0x00, 0x10};
    append(select, kIsdrAid);
    collect(e, ch, e.transmit(select));
    return ch;
}

// Sends one ES10 request in 255-byte STORE DATA blocks; returns the answer
// of the last block after its GET RESPONSE chain.
inline Bytes es10(Euicc &e, int channel, const Bytes &request)
{
    size_t blocks = request.empty() ? 1 : (request.size() + 254) / 255;
    Bytes last;
    for (size_t k = 0; k < blocks; ++k) {
        size_t off = k * 255;
        size_t n = std::min<size_t>(255, request.size() - off);
        Bytes apdu(5 + n + 1, 0x00);
        apdu[0] = Euicc::claForChannel(0x80, channel);
        apdu[1] = 0xE2;
        apdu[2] = static_cast<uint8_t>(k + 1 == blocks ? 0x91 : 0x11);
        apdu[3] = static_cast<uint8_t>(k);
        apdu[4] = static_cast<uint8_t>(n);
        for (size_t i = 0; i < n; ++i) apdu[5 + i] = request[off + i];
        last = e.transmit(apdu);
    }
    return collect(e, channel, last);
}

}  // namespace test
}  // namespace hbrsim

#endif
