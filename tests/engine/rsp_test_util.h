// Helpers shared by the ES9+/ES11, ES10b, package loading and download
// tests: a little DER building and reading, Base64, the execution-error
// event recorder and the release of the server data.
#ifndef HBR_RSP_TEST_UTIL_H
#define HBR_RSP_TEST_UTIL_H

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "es9plus_client.h"
#include "lpa.h"
#include "lpa_base64.h"
#include "lpa_core_memory.h"
#include "sim_isdr.h"

namespace hbr_test {

using Bytes = std::vector<uint8_t>;

inline Bytes HexToBytes(const std::string &hex)
{
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

inline std::string BytesToHex(const uint8_t *data, size_t size)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 0x0F];
    }
    return out;
}
inline std::string BytesToHex(const Bytes &b) { return BytesToHex(b.data(), b.size()); }

// DER: tag bytes big-endian (0x5F37, 0xBF38), minimal lengths.
inline Bytes Tlv(uint32_t tag, const Bytes &value)
{
    Bytes out;
    if (tag > 0xFFFF) out.push_back(static_cast<uint8_t>(tag >> 16));
    if (tag > 0xFF) out.push_back(static_cast<uint8_t>(tag >> 8));
    out.push_back(static_cast<uint8_t>(tag));
    size_t n = value.size();
    if (n < 0x80) {
        out.push_back(static_cast<uint8_t>(n));
    } else if (n <= 0xFF) {
        out.insert(out.end(), {0x81, static_cast<uint8_t>(n)});
    } else if (n <= 0xFFFF) {
        out.insert(out.end(), {0x82, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
    } else {
        out.insert(out.end(), {0x83, static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
    }
    out.insert(out.end(), value.begin(), value.end());
    return out;
}
inline Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// The top-level TLVs of a buffer as (tag, value); stops at malformed data.
inline std::vector<std::pair<uint32_t, Bytes>> ParseTlvs(const uint8_t *data, size_t size)
{
    std::vector<std::pair<uint32_t, Bytes>> out;
    size_t pos = 0;
    while (pos < size) {
        uint32_t tag = data[pos++];
        if ((tag & 0x1F) == 0x1F) {
            if (pos >= size) break;
            tag = (tag << 8) | data[pos++];
        }
        if (pos >= size) break;
        size_t length = data[pos++];
        if (length & 0x80) {
            size_t count = length & 0x7F;
            length = 0;
            for (size_t i = 0; i < count && pos < size; ++i) length = (length << 8) | data[pos++];
        }
        if (pos + length > size) break;
        out.emplace_back(tag, Bytes(data + pos, data + pos + length));
        pos += length;
    }
    return out;
}
inline std::vector<std::pair<uint32_t, Bytes>> ParseTlvs(const Bytes &b) { return ParseTlvs(b.data(), b.size()); }

inline Bytes FindTlv(const Bytes &buffer, uint32_t tag)
{
    for (auto &item : ParseTlvs(buffer)) {
        if (item.first == tag) return item.second;
    }
    return Bytes();
}

inline std::string Base64(const Bytes &data)
{
    std::string out(encodeBase64BufferSize(data.size()), '\0');
    uint32_t n = encodeBase64(data.empty() ? nullptr : data.data(), static_cast<uint32_t>(data.size()), &out[0]);
    out.resize(n);
    return out;
}

inline Bytes FromBase64(const std::string &text)
{
    Bytes out(text.size() + 1);
    size_t length = 0;
    if (!decodeBase64(text.c_str(), text.size(), out.data(), &length, out.size())) return Bytes();
    out.resize(length);
    return out;
}

inline Bytes FieldBytes(const TDataValue &field)
{
    return field.val != nullptr ? Bytes(field.val, field.val + field.len) : Bytes();
}

inline void FreeServerData(TServerData *data)
{
    TDataValue *fields[] = {&data->_transactionId, &data->_serverSigned1, &data->_serverSignature1,
                            &data->_euiccCiPKIdToBeUsed, &data->_serverCertificate, &data->_smdpCertificate,
                            &data->_smdpSignature2, &data->_smdpSigned2, &data->_profileMetadata,
                            &data->_boundProfilePackage};
    for (TDataValue *field : fields) {
        if (field->val != nullptr) LPA_FREE(field->val);
        field->val = nullptr;
        field->len = 0;
    }
}

struct RecordedEvent {
    int32_t source = 0;
    int32_t presentFields = 0;
    bool subjectNull = true;
    bool reasonNull = true;
    bool textNull = true;
    std::string subjectCode;
    std::string reasonCode;
    std::string text;
};

// Events of the callbacks record (userData points to the vector).
inline void RecordEventInto(void *userData, const LpaEventExecutionError *event)
{
    auto *events = static_cast<std::vector<RecordedEvent> *>(userData);
    RecordedEvent e;
    e.source = event->source;
    e.presentFields = event->presentFields;
    e.subjectNull = event->subjectCode == nullptr;
    e.reasonNull = event->reasonCode == nullptr;
    e.textNull = event->text == nullptr;
    e.subjectCode = event->subjectCode ? event->subjectCode : "";
    e.reasonCode = event->reasonCode ? event->reasonCode : "";
    e.text = event->text ? event->text : "";
    events->push_back(e);
}

inline LpaDownloadCallbacks EventCallbacks(std::vector<RecordedEvent> *events)
{
    LpaDownloadCallbacks callbacks;
    std::memset(&callbacks, 0, sizeof(callbacks));
    callbacks.userData = events;
    callbacks.executionError = RecordEventInto;
    return callbacks;
}

// The simulated eUICC's EUICCInfo1: it lists the test CI, which the test SM-DP+ trusts.
inline Bytes TestEuiccInfo1()
{
    return hbrsim::Isdr().euiccInfo1();
}

}  // namespace hbr_test

#endif  // HBR_RSP_TEST_UTIL_H
