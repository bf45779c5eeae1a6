#include "at_test_transport.h"

#include "at_channel.h"

#include <algorithm>
#include <cstring>

namespace {
AtTransportHooks g_hooks;
}

AtTestTransport::AtTestTransport()
{
    install();
}

AtTestTransport::AtTestTransport(const hbrsim::Seed &seed)
{
    hbrsim::applySeed(seed, module);
    install();
}

AtTestTransport::~AtTestTransport()
{
    SetAtTransportHooksForTest(nullptr);
}

void AtTestTransport::install()
{
    g_hooks.send = &AtTestTransport::send;
    g_hooks.receive = &AtTestTransport::receive;
    g_hooks.context = this;
    SetAtTransportHooksForTest(&g_hooks);
}

std::vector<std::string> AtTestTransport::sentTexts() const
{
    std::vector<std::string> out;
    for (const Sent &s : sent_) out.push_back(s.text);
    return out;
}

BOOL AtTestTransport::send(void *context, const char *command, uint32_t length, uint32_t *requestId)
{
    auto *self = static_cast<AtTestTransport *>(context);
    std::string text(command, length);
    self->sent_.push_back(Sent{text, length});
    if (++self->sends_ == self->failSend_) {
        *requestId = 0;
        return FALSE;
    }
    *requestId = self->nextId_++;
    self->replies_[*requestId] = self->module.handle(text);
    return TRUE;
}

BOOL AtTestTransport::receive(void *context, char *buffer, size_t capacity, size_t *length, uint32_t requestId)
{
    auto *self = static_cast<AtTestTransport *>(context);
    ++self->receives_;
    auto it = self->replies_.find(requestId);
    if (self->receives_ == self->failReceive_ || it == self->replies_.end()) {
        return FALSE;
    }
    std::string reply = self->receives_ == self->emptyReceive_ ? std::string() : it->second;
    self->replies_.erase(it);
    size_t n = std::min(capacity, reply.size());
    std::memcpy(buffer, reply.data(), n);
    *length = n;
    return TRUE;
}
