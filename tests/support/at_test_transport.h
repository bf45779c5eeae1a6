// An in-process AT transport for agent tests: while installed, SendATCmd
// and ReceiveAtResponse talk to a fresh simulated module (its records and
// fault plan come with it). Sends and receives can be made to fail.
#ifndef HBR_AT_TEST_TRANSPORT_H
#define HBR_AT_TEST_TRANSPORT_H

#include "at_channel.h"
#include "sim_module.h"
#include "sim_seed.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

class AtTestTransport {
public:
    struct Sent {
        std::string text;  // the bytes passed, `length` of them
        uint32_t length = 0;
    };

    AtTestTransport();  // installs itself
    explicit AtTestTransport(const hbrsim::Seed &seed);
    ~AtTestTransport();  // restores the channel
    AtTestTransport(const AtTestTransport &) = delete;
    AtTestTransport &operator=(const AtTestTransport &) = delete;

    hbrsim::Module module;

    // Every command passed to SendATCmd, failed sends included.
    const std::vector<Sent> &sent() const { return sent_; }
    std::vector<std::string> sentTexts() const;

    // The k-th send or receive from now on (1-based) fails; the k-th
    // receive hands back nothing (an empty reply).
    void failSend(int k) { failSend_ = sends_ + k; }
    void failReceive(int k) { failReceive_ = receives_ + k; }
    void emptyReceive(int k) { emptyReceive_ = receives_ + k; }

private:
    void install();
    static BOOL send(void *self, const char *command, uint32_t length, uint32_t *requestId);
    static BOOL receive(void *self, char *buffer, size_t capacity, size_t *length, uint32_t requestId);

    std::vector<Sent> sent_;
    std::map<uint32_t, std::string> replies_;
    uint32_t nextId_ = 100;
    int sends_ = 0;
    int receives_ = 0;
    int failSend_ = 0;
    int failReceive_ = 0;
    int emptyReceive_ = 0;
};

#endif
