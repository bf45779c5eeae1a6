// The download part of the simulated ISD-R: GetEuiccChallenge,
// GetEuiccInfo1, AuthenticateServer, PrepareDownload, CancelSession, GetRAT
// and the segments of a bound profile package, with the session
//   idle -> challenge issued -> authenticated -> prepared -> loading -> idle.
// A new GetEuiccChallenge, a CancelSession with the session's transactionId,
// a module reset or the close of the channel ends a session.
#ifndef HBRSIM_SIM_DOWNLOAD_H
#define HBRSIM_SIM_DOWNLOAD_H

#include "sim_tlv.h"

#include <cstdint>
#include <string>

namespace hbrsim {

class Isdr;
struct Es10Answer;

// Faults of the download part. Segments count from 1 (the BF36 segment)
// within one load.
struct DownloadKnobs {
    int pirOnSegment = 0;           // this segment is answered with a PIR at once...
    bool pirOnSegmentSuccess = true;  // ...with successResult, or errorResult (cmd 2, reason 127)
    bool noFinalPir = false;        // the last 86 is answered 90 00 without data; nothing installed
    size_t pirPadding = 0;          // bytes added to the PIR's signature
    int badSwSegment = 0;           // this segment is answered with badSw alone, not carried out
    uint16_t badSw = 0x6A80;
    Bytes pirSeq;                   // the PIR's seqNumber value (80) as given; empty: the minimal encoding
    size_t maxProfiles = 8;         // installing beyond this gives errorReason 10
};

enum class DownloadState { Idle, ChallengeIssued, Authenticated, Prepared, Loading };

class Download {
public:
    DownloadKnobs knobs;
    DownloadState state = DownloadState::Idle;
    Bytes euiccInfo1;  // the GetEuiccInfo1 answer; empty: the ISD-R's own (Isdr::euiccInfo1)

    // Requests this part answers (outer tags).
    static bool handles(uint32_t tag);
    // While prepared or loading, a request whose leading tag is a package tag
    // is a segment (it need not be a whole TLV).
    bool isSegment(const Bytes &request) const;

    Es10Answer process(Isdr &isdr, const Tlv &request);
    Es10Answer segment(Isdr &isdr, const Bytes &request);

    // Ends the session (reset, channel close).
    void reset();
    // The answer to a request of this tag was dropped in a broken GET
    // RESPONSE chain (a lost PrepareDownload answer may be asked again).
    void answerLost(uint32_t requestTag);

    // The session, for tests.
    const Bytes &transactionId() const { return txid_; }
    const std::string &serverAddress() const { return serverAddress_; }
    const Bytes &matchingId() const { return matchingId_; }
    int segmentsSeen() const { return segments_; }

private:
    enum class Phase { Bf36, A0, A1Header, Elements88, AfterA1, A3Header, Elements86 };

    bool prepareAnswerLost_ = false;
    Bytes challenge_;
    Bytes txid_;
    Bytes serverChallenge_;
    std::string serverAddress_;
    Bytes matchingId_;
    Bytes smdpOid_;
    uint32_t counter_ = 0;

    Phase phase_ = Phase::Bf36;
    int segments_ = 0;
    size_t bf36Left_ = 0;
    size_t a1Left_ = 0;
    size_t a3Left_ = 0;
    bool a2Seen_ = false;
    Bytes metadata_;

    Es10Answer getChallenge();
    Es10Answer authenticateServer(Isdr &isdr, const Tlv &request);
    Es10Answer prepareDownload(const Tlv &request);
    Es10Answer cancelSession(const Tlv &request);
    Es10Answer getRat(Isdr &isdr);

    Es10Answer loadSegment(Isdr &isdr, const Bytes &request);
    Es10Answer install(Isdr &isdr);
    Es10Answer failInstall(Isdr &isdr, uint8_t commandId, uint8_t reason);
    Bytes pir(Isdr &isdr, const Bytes &finalResult, const Bytes &iccid, bool record);
    Bytes nextBytes(size_t n);
};

// The registeredID OID of a certificate's subjectAltName, or empty.
Bytes registeredIdOf(const Bytes &certificate);

}  // namespace hbrsim

#endif
