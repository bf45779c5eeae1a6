#include "sim_euicc.h"

#include <algorithm>

namespace hbrsim {

const Bytes kIsdrAid = hexBytes("A0000005591010FFFFFFFF8900000100");
const Bytes kIsdrFci = hexBytes(
    "6F748410A0000005591010FFFFFFFF8900000100A559734A06072A864886FC6B01600B06092A864886FC6B02020263090607"
    "2A864886FC6B03650D060B2A864886FC6B05040200006618060A2B060104012A026E0103060A535433334A324D3002009F6E"
    "060077112701269F6501FFE0058203020202");

Bytes sw(uint16_t value)
{
    return Bytes{static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value & 0xFF)};
}

namespace {
constexpr uint8_t kInsManageChannel = 0x70;
constexpr uint8_t kInsSelect = 0xA4;
constexpr uint8_t kInsGetResponse = 0xC0;
constexpr uint8_t kInsStoreData = 0xE2;

bool apduFault(FaultAction a)
{
    return a != FaultAction::ReplaceReply && a != FaultAction::Silence && a != FaultAction::WriterResult &&
           a != FaultAction::Es10Answer && a != FaultAction::Es10Result;
}

uint8_t announce(size_t rest)
{
    return static_cast<uint8_t>(std::min<size_t>(rest, 256) & 0xFF);
}
}  // namespace

Euicc::Euicc()
{
    channels_[0].open = true;
}

int Euicc::channelOf(uint8_t cla)
{
    if (cla == 0xFF) return -1;
    if (cla & 0x40) return 4 + (cla & 0x0F);
    return cla & 0x03;
}

uint8_t Euicc::claForChannel(uint8_t cla, int channel)
{
    uint8_t base = (cla & 0x40) ? static_cast<uint8_t>(cla & 0xB0) : static_cast<uint8_t>(cla & 0xFC);
    if (channel <= 3) return static_cast<uint8_t>(base | channel);
    return static_cast<uint8_t>((base & 0xB0) | 0x40 | ((channel - 4) & 0x0F));
}

bool Euicc::channelOpen(int channel) const
{
    return channel >= 0 && channel < kChannels && channels_[channel].open;
}

bool Euicc::isdrSelected(int channel) const
{
    return channelOpen(channel) && channels_[channel].isdrSelected;
}

void Euicc::reset()
{
    for (int i = 0; i < kChannels; ++i) {
        channels_[i] = Channel();
    }
    channels_[0].open = true;
    isdr.resetSession();
}

void Euicc::closeChannel(int channel)
{
    channels_[channel] = Channel();
    isdr.resetSession();
}

Bytes Euicc::transmit(const Bytes &apdu)
{
    int channel = apdu.empty() ? -1 : channelOf(apdu[0]);
    Bytes response = process(apdu, channel);
    records.apdus.push_back(ApduRecord{channel, apdu, response});
    return response;
}

Bytes Euicc::process(const Bytes &apdu, int channel)
{
    if (apdu.size() < 5) return sw(0x6700);
    if (apdu[0] == 0xFF) return sw(0x6E00);
    if (apdu.size() > 5) {
        size_t lc = apdu[4];
        if (apdu.size() != 5 + lc && apdu.size() != 6 + lc) return sw(0x6700);
    }
    if (!channelOpen(channel)) return sw(0x6881);
    Channel &ch = channels_[channel];
    uint8_t ins = apdu[1];

    piece_ = config.pieceSize == 0 ? 256 : config.pieceSize;
    t0_ = config.t0;
    FaultEvent event;
    event.level = FaultLevel::Apdu;
    event.ins = ins;
    event.channel = channel;
    if (ch.hasPending && !ch.pendingRequest.empty()) {
        event.chainRequest = &ch.pendingRequest;
    }
    if (const FaultRule *rule = faults.fire(event, apduFault)) {
        switch (rule->action) {
        case FaultAction::StatusWord:
            if (ch.hasPending && ins == kInsGetResponse && !ch.pendingRequest.empty()) {
                uint32_t tag = 0;
                size_t pos = 0;
                readTag(ch.pendingRequest.data(), ch.pendingRequest.size(), pos, tag);
                isdr.download.answerLost(tag);
            }
            ch.hasPending = false;
            ch.pending.clear();
            return sw(static_cast<uint16_t>(rule->number));
        case FaultAction::WholeResponse:
            ch.hasPending = false;
            ch.pending.clear();
            return rule->bytes;
        case FaultAction::ResponseData:
            return respond(ch, rule->bytes, static_cast<uint16_t>(rule->number), piece_, t0_);
        case FaultAction::Empty61:
            return Bytes{0x61, static_cast<uint8_t>(rule->number)};
        case FaultAction::PieceSize:
            piece_ = rule->number > 0 ? static_cast<size_t>(rule->number) : 1;
            break;
        case FaultAction::T0Style:
            t0_ = true;
            break;
        default:
            break;
        }
    }

    if (ins != kInsGetResponse) {
        ch.hasPending = false;
        ch.pending.clear();
        ch.pendingRequest.clear();
    }
    switch (ins) {
    case kInsManageChannel: return manageChannel(apdu, ch);
    case kInsSelect: return select(apdu, ch);
    case kInsGetResponse: return getResponse(apdu, ch);
    case kInsStoreData: return storeData(apdu, ch);
    default: return sw(0x6D00);
    }
}

Bytes Euicc::respond(Channel &ch, const Bytes &data, uint16_t status, size_t piece, bool t0)
{
    if (data.empty()) return sw(status);
    if (!t0 && data.size() <= piece) {
        Bytes out = data;
        append(out, sw(status));
        return out;
    }
    ch.hasPending = true;
    ch.pendingSw = status;
    ch.pendingPiece = piece;
    if (t0) {
        ch.pending = data;
        return Bytes{0x61, announce(std::min(data.size(), piece))};
    }
    Bytes out(data.begin(), data.begin() + static_cast<long>(piece));
    ch.pending.assign(data.begin() + static_cast<long>(piece), data.end());
    out.push_back(0x61);
    out.push_back(announce(std::min(ch.pending.size(), piece)));
    return out;
}

Bytes Euicc::manageChannel(const Bytes &apdu, Channel &ch)
{
    uint8_t p1 = apdu[2];
    uint8_t p2 = apdu[3];
    if (p1 == 0x00) {
        if (p2 != 0x00) return sw(0x6A86);
        if (config.manageChannelAnswer) return respond(ch, Bytes{*config.manageChannelAnswer}, 0x9000, piece_, t0_);
        int last = std::min(config.firstChannel + config.channelCount - 1, kChannels - 1);
        for (int c = std::max(config.firstChannel, 1); c <= last; ++c) {
            if (!channels_[c].open) {
                channels_[c] = Channel();
                channels_[c].open = true;
                return respond(ch, Bytes{static_cast<uint8_t>(c)}, 0x9000, piece_, t0_);
            }
        }
        return sw(0x6A81);
    }
    if (p1 == 0x80) {
        if (p2 == 0 || p2 >= kChannels) return sw(0x6A86);
        if (!channels_[p2].open) return sw(0x6881);
        closeChannel(p2);
        return sw(0x9000);
    }
    return sw(0x6A86);
}

Bytes Euicc::select(const Bytes &apdu, Channel &ch)
{
    if (apdu[2] != 0x04) return sw(0x6A86);
    size_t lc = apdu.size() > 5 ? apdu[4] : 0;
    Bytes aid(apdu.begin() + 5, apdu.begin() + 5 + static_cast<long>(lc));
    if (aid != kIsdrAid) return sw(0x6A82);
    ch.isdrSelected = true;
    switch (config.selectAnswer) {
    case SelectAnswer::Bare9000: return sw(0x9000);
    case SelectAnswer::T0: return respond(ch, kIsdrFci, 0x9000, piece_, true);
    case SelectAnswer::Fci91: return respond(ch, kIsdrFci, static_cast<uint16_t>(0x9100 | config.select91Sw2), piece_, t0_);
    case SelectAnswer::Fci: break;
    }
    return respond(ch, kIsdrFci, 0x9000, piece_, t0_);
}

Bytes Euicc::getResponse(const Bytes &apdu, Channel &ch)
{
    if (apdu.size() != 5) return sw(0x6700);
    if (!ch.hasPending) return sw(0x6985);
    size_t le = apdu[4] == 0 ? 256 : apdu[4];
    size_t n = std::min({le, ch.pending.size(), piece_ < ch.pendingPiece ? piece_ : ch.pendingPiece});
    Bytes out(ch.pending.begin(), ch.pending.begin() + static_cast<long>(n));
    ch.pending.erase(ch.pending.begin(), ch.pending.begin() + static_cast<long>(n));
    if (ch.pending.empty()) {
        ch.hasPending = false;
        append(out, sw(ch.pendingSw));
    } else {
        out.push_back(0x61);
        out.push_back(announce(std::min(ch.pending.size(), ch.pendingPiece)));
    }
    return out;
}

Bytes Euicc::storeData(const Bytes &apdu, Channel &ch)
{
    if ((apdu[0] & 0x80) == 0) return sw(0x6E00);
    if (!ch.isdrSelected) return sw(0x6985);
    uint8_t p1 = apdu[2];
    uint8_t p2 = apdu[3];
    if (p1 != 0x11 && p1 != 0x91) return sw(0x6A86);
    if (!ch.storing) {
        ch.storing = true;
        ch.nextBlock = 0;
        ch.store.clear();
    }
    if (p2 != ch.nextBlock) {
        ch.storing = false;
        ch.store.clear();
        return sw(0x6A86);
    }
    size_t lc = apdu.size() > 5 ? apdu[4] : 0;
    ch.store.insert(ch.store.end(), apdu.begin() + 5, apdu.begin() + 5 + static_cast<long>(lc));
    if (ch.store.size() > config.storeDataLimit) {
        ch.storing = false;
        ch.store.clear();
        return sw(0x6A80);
    }
    if (p1 == 0x11) {
        ++ch.nextBlock;
        return sw(0x9000);
    }
    Bytes request;
    request.swap(ch.store);
    ch.storing = false;
    Es10Answer answer = isdr.process(request, &faults);
    Es10Record record;
    size_t pos = 0;
    readTag(request.data(), request.size(), pos, record.tag);
    record.request = request;
    record.response = answer.data;
    record.sw = answer.sw;
    records.es10.push_back(record);
    Bytes out = respond(ch, answer.data, answer.sw, piece_, t0_);
    if (ch.hasPending) {
        ch.pendingRequest = record.request;
    }
    return out;
}

}  // namespace hbrsim
