// The simulated eUICC at APDU level: logical channels, ISD-R selection,
// GET RESPONSE chaining and STORE DATA reassembly in front of the ISD-R.
#ifndef HBRSIM_SIM_EUICC_H
#define HBRSIM_SIM_EUICC_H

#include "sim_fault.h"
#include "sim_isdr.h"
#include "sim_records.h"
#include "sim_tlv.h"

#include <cstdint>
#include <optional>

namespace hbrsim {

// ISD-R AID of GSMA SGP.22.
extern const Bytes kIsdrAid;
// The FCI the ISD-R answers to its SELECT (118 bytes, tag 6F).
extern const Bytes kIsdrFci;

enum class SelectAnswer { Fci, Bare9000, T0, Fci91 };

struct EuiccConfig {
    int firstChannel = 1;      // lowest channel MANAGE CHANNEL hands out
    int channelCount = 3;      // how many (at most up to channel 19)
    std::optional<uint8_t> manageChannelAnswer;  // answer this byte to an open without opening
    SelectAnswer selectAnswer = SelectAnswer::Fci;
    uint8_t select91Sw2 = 0x10;
    size_t pieceSize = 256;    // longest data part of one answer
    bool t0 = false;           // every answer with data first comes as 61 xx alone
    size_t storeDataLimit = 256 * 1024;
};

class Euicc {
public:
    Euicc();

    // One command APDU in, the response APDU (data and status word) out.
    Bytes transmit(const Bytes &apdu);

    // Module reset: closes every channel and drops every selection, partial
    // STORE DATA, pending GET RESPONSE data and the download session.
    void reset();

    bool channelOpen(int channel) const;
    bool isdrSelected(int channel) const;

    // Channel of a class byte (ETSI TS 102 221); -1 for CLA FF.
    static int channelOf(uint8_t cla);
    // The class byte `cla` moved to `channel`.
    static uint8_t claForChannel(uint8_t cla, int channel);

    EuiccConfig config;
    Isdr isdr;
    FaultPlan faults;
    Records records;

private:
    static constexpr int kChannels = 20;
    struct Channel {
        bool open = false;
        bool isdrSelected = false;
        bool hasPending = false;
        Bytes pending;
        uint16_t pendingSw = 0x9000;
        size_t pendingPiece = 256;
        bool storing = false;
        int nextBlock = 0;
        Bytes store;
    };
    Channel channels_[kChannels];

    Bytes process(const Bytes &apdu, int channel);
    Bytes respond(Channel &ch, const Bytes &data, uint16_t sw, size_t piece, bool t0);
    Bytes manageChannel(const Bytes &apdu, Channel &ch);
    Bytes select(const Bytes &apdu, Channel &ch);
    Bytes getResponse(const Bytes &apdu, Channel &ch);
    Bytes storeData(const Bytes &apdu, Channel &ch);
    void closeChannel(int channel);

    // Modifiers of the answer to the APDU in hand (fault rules).
    size_t piece_ = 256;
    bool t0_ = false;
};

Bytes sw(uint16_t value);

}  // namespace hbrsim

#endif
