// BER-TLV decoding and encoding, and raw data objects.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "alloc_sweep.h"
#include "ber_tlv.h"
#include "log_recorder.h"
#include "raw_data_object.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes valueOf(const BerTLV *tlv)
{
    return tlv->value ? Bytes(tlv->value, tlv->value + tlv->length) : Bytes();
}

Bytes bytesOf(const RawDataObject *object)
{
    return object->data ? Bytes(object->data, object->data + object->length) : Bytes();
}

class BerTlvTest : public ::testing::Test {
protected:
    void SetUp() override { liveAtStart = liveBlocks(); }
    void TearDown() override
    {
        for (uint8_t knob = 1; knob <= 6; ++knob) lpaCoreMemorySetParamGenerateErr(knob, 0);
        EXPECT_EQ(liveBlocks(), liveAtStart) << "blocks leaked by the test";
    }

    // Finds tag in bytes; answers the value (or "absent" through *present).
    Bytes find(uint16_t tag, const Bytes &bytes, bool *found, bool *present)
    {
        BerTLV *tlv = berTLV_extractTagUInt16(tag, bytes.empty() ? nullptr : bytes.data(), bytes.size(), found);
        *present = tlv != nullptr;
        Bytes value;
        if (tlv) {
            EXPECT_EQ(tlv->tag, tag);
            EXPECT_EQ(tlv->length, tlv->value ? tlv->length : 0u);
            value = valueOf(tlv);
            berTLV_freeBerTLV(tlv);
        }
        return value;
    }

    LogRecorder log;
    uint32_t liveAtStart = 0;
};

TEST_F(BerTlvTest, FindsOneTopLevelTlv)
{
    bool found = false, present = false;
    EXPECT_EQ(find(0x5A, {0x5A, 0x02, 0x01, 0x02}, &found, &present), (Bytes{0x01, 0x02}));
    EXPECT_TRUE(found);
    EXPECT_TRUE(present);

    // A value that runs past the buffer: found, but no result.
    find(0x5A, {0x5A, 0x05, 0x01, 0x02}, &found, &present);
    EXPECT_TRUE(found);
    EXPECT_FALSE(present);

    // The second of several elements, with two-byte tag and long-form length.
    Bytes second = {0x5A, 0x01, 0xEE, 0xBF, 0x2D, 0x81, 0x02, 0xAB, 0xCD};
    EXPECT_EQ(find(0xBF2D, second, &found, &present), (Bytes{0xAB, 0xCD}));
    EXPECT_TRUE(found && present);
    // All 16 bits are compared, and only top-level elements are seen.
    find(0x2D, second, &found, &present);
    EXPECT_FALSE(found);
    find(0xBF, second, &found, &present);
    EXPECT_FALSE(found);
    find(0x80, {0xA0, 0x03, 0x80, 0x01, 0x07}, &found, &present);
    EXPECT_FALSE(found);

    // The first match counts.
    EXPECT_EQ(find(0x5A, {0x5A, 0x01, 0x01, 0x5A, 0x01, 0x02}, &found, &present), (Bytes{0x01}));
}

TEST_F(BerTlvTest, EmptyValuesAndShortBuffers)
{
    bool found = false;
    BerTLV *tlv = berTLV_extractTagUInt16(0xBF2D, Bytes{0xBF, 0x2D, 0x00}.data(), 3, &found);
    ASSERT_NE(tlv, nullptr);
    EXPECT_TRUE(found);
    EXPECT_EQ(tlv->length, 0u);
    EXPECT_EQ(tlv->value, nullptr);
    berTLV_freeBerTLV(tlv);

    const uint8_t one[] = {0x5A};
    found = true;
    EXPECT_EQ(berTLV_extractTagUInt16(0x5A, one, 1, &found), nullptr);
    EXPECT_FALSE(found);
    found = true;
    EXPECT_EQ(berTLV_extractTagUInt16(0x5A, nullptr, 10, &found), nullptr);
    EXPECT_FALSE(found);
    found = true;
    EXPECT_EQ(berTLV_extractTagUInt8(0x5A, one, 1, &found), nullptr);
    EXPECT_FALSE(found);
    // found may be NULL.
    EXPECT_EQ(berTLV_extractTagUInt16(0x5A, one, 1, nullptr), nullptr);
}

TEST_F(BerTlvTest, MalformedHeadersEndTheWalk)
{
    bool found = true, present = false;
    // Length bytes 80 and 84..FF are malformed: nothing after them is seen.
    for (uint8_t bad : {0x80, 0x84, 0xFF}) {
        find(0x5A, {0x30, bad, 0x00, 0x00, 0x00, 0x00, 0x5A, 0x01, 0x01}, &found, &present);
        EXPECT_FALSE(found) << int(bad);
    }
    // Missing second tag byte, missing length byte, missing length bytes.
    for (const Bytes &cut : {Bytes{0x01, 0x00, 0x5F}, Bytes{0x01, 0x00, 0x5A}, Bytes{0x5A, 0x82, 0x01},
                             Bytes{0x01, 0x00, 0x5A, 0x83, 0x00, 0x00}}) {
        find(0x5A, cut, &found, &present);
        EXPECT_FALSE(found);
        find(0x5F00, cut, &found, &present);
        EXPECT_FALSE(found);
    }
    // 1F (and 3F, 7F) start one-byte tags.
    EXPECT_EQ(find(0x1F, {0x1F, 0x01, 0xAA}, &found, &present), (Bytes{0xAA}));
    EXPECT_TRUE(found);
    EXPECT_EQ(find(0x7F, {0x3F, 0x00, 0x7F, 0x01, 0xBB}, &found, &present), (Bytes{0xBB}));
    EXPECT_TRUE(found);
    // Every listed first byte starts a two-byte tag.
    for (uint8_t first : {0x5F, 0x9F, 0xBF, 0xDF, 0xFF}) {
        uint16_t tag = static_cast<uint16_t>(first << 8 | 0x21);
        EXPECT_EQ(find(tag, {first, 0x21, 0x01, 0x09}, &found, &present), (Bytes{0x09}));
    }
}

TEST_F(BerTlvTest, OneByteTagFindWritesItsOwnLine)
{
    const uint8_t bytes[] = {0x01, 0x01, 0x00, 0x88, 0x02, 0x11, 0x22};
    bool found = false;
    BerTLV *tlv = berTLV_extractTagUInt8(0x88, bytes, sizeof(bytes), &found);
    ASSERT_NE(tlv, nullptr);
    EXPECT_EQ(valueOf(tlv), (Bytes{0x11, 0x22}));
    berTLV_freeBerTLV(tlv);
    EXPECT_EQ(log.find("berTLV_extractTagUInt8(0x88,...)", LPA_LOG_LEVEL_VER), 0);
    EXPECT_TRUE(log.has("berTLV_create(tag:0x0088)", LPA_LOG_LEVEL_VER));
    EXPECT_EQ(log.countPrefix("berTLV_extractTagUInt16("), 0u);
}

TEST_F(BerTlvTest, SplitsIntoTopLevelElements)
{
    const uint8_t two[] = {0x80, 0x01, 0x01, 0x81, 0x01, 0x02};
    size_t count = 99;
    BerTLVListNode *list = berTLV_extractList(two, sizeof(two), &count);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(list->index, 0);
    EXPECT_EQ(list->tlv->tag, 0x80);
    EXPECT_EQ(valueOf(list->tlv), Bytes{0x01});
    ASSERT_NE(list->next, nullptr);
    EXPECT_EQ(list->next->index, 1);
    EXPECT_EQ(list->next->tlv->tag, 0x81);
    EXPECT_EQ(list->next->next, nullptr);
    EXPECT_TRUE(berTLV_freeBerTLVList(list));

    // The overrunning second element ends the walk; the first is kept.
    const uint8_t overrun[] = {0x80, 0x01, 0x01, 0x81, 0x05, 0x02};
    list = berTLV_extractList(overrun, sizeof(overrun), &count);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(list->next, nullptr);
    berTLV_freeBerTLVList(list);

    // Nothing well formed: NULL and 0.
    const uint8_t bad[] = {0x30, 0x80, 0x00, 0x00};
    count = 99;
    EXPECT_EQ(berTLV_extractList(bad, sizeof(bad), &count), nullptr);
    EXPECT_EQ(count, 0u);
    count = 99;
    EXPECT_EQ(berTLV_extractList(nullptr, 4, &count), nullptr);
    EXPECT_EQ(count, 0u);
    count = 99;
    EXPECT_EQ(berTLV_extractList(two, 1, &count), nullptr);
    EXPECT_EQ(count, 0u);

    // Empty elements are elements.
    const uint8_t empties[] = {0x30, 0x00, 0x30, 0x00, 0x04, 0x00};
    list = berTLV_extractList(empties, sizeof(empties), nullptr);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->next->next->tlv->tag, 0x04);
    EXPECT_EQ(list->next->next->tlv->value, nullptr);
    berTLV_freeBerTLVList(list);
    EXPECT_TRUE(berTLV_freeBerTLVList(nullptr));
}

TEST_F(BerTlvTest, CountsEveryElementWhileTheIndexWraps)
{
    Bytes bytes;
    for (int i = 0; i < 300; ++i) {
        bytes.insert(bytes.end(), {0x02, 0x01, static_cast<uint8_t>(i)});
    }
    size_t count = 0;
    BerTLVListNode *list = berTLV_extractList(bytes.data(), bytes.size(), &count);
    EXPECT_EQ(count, 300u);
    size_t nodes = 0;
    for (BerTLVListNode *node = list; node != nullptr; node = node->next, ++nodes) {
        EXPECT_EQ(node->index, static_cast<uint8_t>(nodes));
        EXPECT_EQ(node->tlv->value[0], static_cast<uint8_t>(nodes));
        if (nodes == 256) {
            EXPECT_EQ(node->index, 0);
        }
    }
    EXPECT_EQ(nodes, 300u);
    berTLV_freeBerTLVList(list);
}

TEST_F(BerTlvTest, EncodesTagsAndLengths)
{
    struct Case {
        size_t length;
        Bytes header;
    };
    for (const Case &c : {Case{0, {0x5A, 0x00}}, Case{127, {0x5A, 0x7F}}, Case{128, {0x5A, 0x81, 0x80}},
                          Case{255, {0x5A, 0x81, 0xFF}}, Case{256, {0x5A, 0x82, 0x01, 0x00}},
                          Case{65535, {0x5A, 0x82, 0xFF, 0xFF}}, Case{65536, {0x5A, 0x83, 0x01, 0x00, 0x00}}}) {
        Bytes value(c.length, 0x3C);
        RawDataObject *raw = berTLV_createAndBuildRawDataObject(0x5A, c.length, value.data());
        ASSERT_NE(raw, nullptr) << c.length;
        ASSERT_EQ(raw->length, c.header.size() + c.length);
        EXPECT_EQ(Bytes(raw->data, raw->data + c.header.size()), c.header) << c.length;
        rawDataObject_free(raw);
    }
    const uint8_t one = 0xAA;
    RawDataObject *raw = berTLV_createAndBuildRawDataObject(0x001F, 1, &one);
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(bytesOf(raw), (Bytes{0x1F, 0x01, 0xAA}));
    rawDataObject_free(raw);
    raw = berTLV_createAndBuildRawDataObject(0xBF21, 1, &one);
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(bytesOf(raw), (Bytes{0xBF, 0x21, 0x01, 0xAA}));
    rawDataObject_free(raw);

    EXPECT_EQ(berTLV_buildRawDataObject(nullptr), nullptr);
}

TEST_F(BerTlvTest, EncodeThenFindRoundTrips)
{
    for (uint16_t tag : {0x5A, 0x1F, 0xBF21}) {
        for (size_t length : {0, 1, 127, 128, 255, 256, 65535, 65536}) {
            Bytes value(length);
            for (size_t i = 0; i < length; ++i) value[i] = static_cast<uint8_t>(i * 7 + 1);
            BerTLV *tlv = berTLV_create(tag, length, value.data());
            ASSERT_NE(tlv, nullptr);
            RawDataObject *raw = berTLV_buildRawDataObject(tlv);
            berTLV_freeBerTLV(tlv);
            ASSERT_NE(raw, nullptr);
            bool found = false, present = false;
            EXPECT_EQ(find(tag, bytesOf(raw), &found, &present), value) << tag << "/" << length;
            EXPECT_TRUE(found && present);
            rawDataObject_free(raw);
        }
    }
}

TEST_F(BerTlvTest, ValuesOf16MiBAreNotEncodable)
{
    const size_t limit = 0xFFFFFF;
    Bytes value(limit + 1, 0x42);
    EXPECT_EQ(berTLV_createAndBuildRawDataObject(0x04, limit + 1, value.data()), nullptr);
    BerTLV big = {0x04, limit + 1, value.data()};
    EXPECT_EQ(berTLV_buildRawDataObject(&big), nullptr);

    RawDataObject *raw = berTLV_createAndBuildRawDataObject(0x04, limit, value.data());
    ASSERT_NE(raw, nullptr);
    ASSERT_EQ(raw->length, 5 + limit);
    EXPECT_EQ(Bytes(raw->data, raw->data + 5), (Bytes{0x04, 0x83, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(raw->data[4 + limit], 0x42);
    rawDataObject_free(raw);
}

TEST_F(BerTlvTest, CreateCopiesAndTracesEveryStep)
{
    const uint8_t value[] = {1, 2, 3};
    BerTLV *tlv = berTLV_create(0x5A, 0, value);
    ASSERT_NE(tlv, nullptr);
    EXPECT_EQ(tlv->length, 0u);
    EXPECT_EQ(tlv->value, nullptr);
    berTLV_freeBerTLV(tlv);
    tlv = berTLV_create(0x5A, 3, nullptr);
    ASSERT_NE(tlv, nullptr);
    EXPECT_EQ(tlv->length, 0u);
    berTLV_freeBerTLV(tlv);

    log.clear();
    tlv = berTLV_create(0xBF21, 3, value);
    ASSERT_NE(tlv, nullptr);
    EXPECT_NE(tlv->value, value);
    EXPECT_EQ(valueOf(tlv), (Bytes{1, 2, 3}));
    RawDataObject *raw = berTLV_buildRawDataObject(tlv);
    berTLV_freeBerTLV(tlv);
    rawDataObject_free(raw);
    berTLV_freeBerTLV(nullptr);
    rawDataObject_free(nullptr);
    std::vector<std::string> expected = {"berTLV_create(tag:0xBF21)", "berTLV_buildRawDataObject(...)",
                                         "rawDataObject_allocate()", "_berTLV_createRawDataBuffer(...)",
                                         "berTLV_freeBerTLV(...)", "rawDataObject_free()",
                                         "berTLV_freeBerTLV(...)", "rawDataObject_free()"};
    std::vector<std::string> traced;
    for (const auto &line : log.lines) {
        if (line.text.rfind("[LPASDKMEM]", 0) != 0) {
            EXPECT_EQ(line.level, LPA_LOG_LEVEL_VER) << line.text;
            traced.push_back(line.text);
        }
    }
    EXPECT_EQ(traced, expected);
    // Freeing empty or NULL records never hands NULL to the allocator.
    EXPECT_EQ(log.count("[LPASDKMEM] _lpaCoreMemoryFree() => try to free NULL memory block"), 0u);
}

TEST_F(BerTlvTest, AllocationFailuresLeaveNothingBehind)
{
    const uint8_t value[] = {0xDE, 0xAD};
    allocationFailureSweep([&] {
        BerTLV *tlv = berTLV_create(0x5A, sizeof(value), value);
        berTLV_freeBerTLV(tlv);
        return tlv != nullptr;
    });
    const uint8_t encoded[] = {0x01, 0x00, 0x5A, 0x02, 0xDE, 0xAD};
    allocationFailureSweep([&] {
        bool found = false;
        BerTLV *tlv = berTLV_extractTagUInt16(0x5A, encoded, sizeof(encoded), &found);
        EXPECT_TRUE(found);
        berTLV_freeBerTLV(tlv);
        return tlv != nullptr;
    });
    int failures = allocationFailureSweep([&] {
        RawDataObject *raw = berTLV_createAndBuildRawDataObject(0xBF21, sizeof(value), value);
        rawDataObject_free(raw);
        return raw != nullptr;
    });
    EXPECT_EQ(failures, 4);  // record, value, object, buffer
    BerTLV *tlv = berTLV_create(0x5A, sizeof(value), value);
    allocationFailureSweep([&] {
        RawDataObject *raw = berTLV_buildRawDataObject(tlv);
        rawDataObject_free(raw);
        return raw != nullptr;
    });
    berTLV_freeBerTLV(tlv);

    // A list of three elements (three nodes, three records, two values).
    const uint8_t three[] = {0x80, 0x01, 0x01, 0x81, 0x00, 0x82, 0x01, 0x03};
    size_t count = 0;
    failures = allocationFailureSweep(
        [&] {
            log.clear();
            BerTLVListNode *list = berTLV_extractList(three, sizeof(three), &count);
            berTLV_freeBerTLVList(list);
            return list != nullptr;
        },
        [&](int k) {
            EXPECT_TRUE(log.has("berTLV_extractList(...) => memory issue !", LPA_LOG_LEVEL_WAR)) << k;
            // The count holds the elements read before the failure.
            EXPECT_LT(count, 3u);
        });
    EXPECT_EQ(failures, 8);
    EXPECT_EQ(count, 3u);
}

// ---------------------------------------------------------------------------
// Raw data objects

TEST_F(BerTlvTest, AppendAllocatesExactlyTheJoinedLength)
{
    RawDataObject *object = rawDataObject_allocate();
    ASSERT_NE(object, nullptr);
    const uint8_t bytes[] = {1, 2, 3};
    EXPECT_TRUE(rawDataObject_appendRawDataArray(object, bytes, 3));
    ASSERT_EQ(object->length, 3u);
    const uint8_t *header = lpaCoreMemoryTestBlockHeader(object->data);
    EXPECT_EQ(Bytes(header + 2, header + 6), (Bytes{0, 0, 0, 3}));
    EXPECT_TRUE(rawDataObject_appendRawDataArray(object, bytes, 2));
    EXPECT_EQ(bytesOf(object), (Bytes{1, 2, 3, 1, 2}));

    // Length 0 from a real array is refused; NULL object or data: true only for 0.
    EXPECT_FALSE(rawDataObject_appendRawDataArray(object, bytes, 0));
    EXPECT_TRUE(rawDataObject_appendRawDataArray(object, nullptr, 0));
    EXPECT_FALSE(rawDataObject_appendRawDataArray(object, nullptr, 3));
    EXPECT_TRUE(rawDataObject_appendRawDataArray(nullptr, bytes, 0));
    EXPECT_FALSE(rawDataObject_appendRawDataArray(nullptr, bytes, 3));
    EXPECT_TRUE(rawDataObject_appendRawDataArray(nullptr, nullptr, 0));
    EXPECT_EQ(bytesOf(object), (Bytes{1, 2, 3, 1, 2}));
    EXPECT_TRUE(log.has("rawDataObject_appendRawDataArray()", LPA_LOG_LEVEL_VER));
    rawDataObject_free(object);
}

TEST_F(BerTlvTest, UpdateBranches)
{
    const uint8_t abc[] = {'a', 'b', 'c'};
    const uint8_t xyz[] = {'x', 'y', 'z'};
    const uint8_t four[] = {1, 2, 3, 4};
    RawDataObject *object = rawDataObject_create(abc, 3);
    ASSERT_NE(object, nullptr);

    // Same length: copied over the existing buffer.
    uint8_t *before = object->data;
    rawDataObject_update(object, xyz, 3);
    EXPECT_EQ(object->data, before);
    EXPECT_EQ(bytesOf(object), (Bytes{'x', 'y', 'z'}));
    rawDataObject_update(object, nullptr, 3);
    EXPECT_EQ(bytesOf(object), (Bytes{'x', 'y', 'z'}));

    // Another length with NULL data: nothing changes.
    rawDataObject_update(object, nullptr, 4);
    EXPECT_EQ(bytesOf(object), (Bytes{'x', 'y', 'z'}));

    // Another length: replaced.
    rawDataObject_update(object, four, 4);
    EXPECT_EQ(bytesOf(object), (Bytes{1, 2, 3, 4}));

    // Length 0: emptied.
    rawDataObject_update(object, four, 0);
    EXPECT_EQ(object->data, nullptr);
    EXPECT_EQ(object->length, 0u);
    rawDataObject_update(object, abc, 3);
    EXPECT_EQ(bytesOf(object), (Bytes{'a', 'b', 'c'}));
    rawDataObject_update(nullptr, abc, 3);

    rawDataObject_clear(object);
    EXPECT_EQ(object->data, nullptr);
    EXPECT_EQ(object->length, 0u);
    rawDataObject_clear(object);
    rawDataObject_free(object);
}

TEST_F(BerTlvTest, ConcatenatesWholeAndPartially)
{
    const uint8_t head[] = {1, 2};
    const uint8_t tail[] = {3, 4, 5, 6};
    RawDataObject *first = rawDataObject_create(head, 2);
    RawDataObject *second = rawDataObject_create(tail, 4);
    RawDataObject *empty = rawDataObject_allocate();
    ASSERT_TRUE(first && second && empty);

    auto check = [](RawDataObject *result, const Bytes &expected) {
        ASSERT_NE(result, nullptr);
        EXPECT_EQ(bytesOf(result), expected);
        EXPECT_EQ(result->length, expected.size());
        rawDataObject_free(result);
    };
    check(rawDataObject_concat(first, second), {1, 2, 3, 4, 5, 6});
    check(rawDataObject_concat(empty, nullptr), {});
    check(rawDataObject_concat(nullptr, nullptr), {});
    check(rawDataObject_concat(nullptr, second), {3, 4, 5, 6});
    check(rawDataObject_concat(first, empty), {1, 2});

    check(rawDataObject_concatPartially(first, second, 1, 2), {1, 2, 4, 5});
    check(rawDataObject_concatPartially(first, second, 4, 1), {1, 2});
    check(rawDataObject_concatPartially(first, second, 9, 1), {1, 2});
    check(rawDataObject_concatPartially(first, second, 2, 100), {1, 2, 5, 6});
    check(rawDataObject_concatPartially(first, second, 3, SIZE_MAX), {1, 2, 6});
    check(rawDataObject_concatPartially(first, second, SIZE_MAX - 1, 2), {1, 2});
    check(rawDataObject_concatPartially(nullptr, second, 0, 0), {});
    check(rawDataObject_concatPartially(nullptr, nullptr, 0, 5), {});
    EXPECT_TRUE(log.has("rawDataObject_concatPartially()", LPA_LOG_LEVEL_VER));

    rawDataObject_free(first);
    rawDataObject_free(second);
    rawDataObject_free(empty);
}

TEST_F(BerTlvTest, RawDataAllocationFailuresLeaveObjectsAsTheyWere)
{
    const uint8_t bytes[] = {9, 8, 7};
    allocationFailureSweep([&] {
        RawDataObject *object = rawDataObject_allocate();
        rawDataObject_free(object);
        return object != nullptr;
    });
    EXPECT_EQ(allocationFailureSweep([&] {
                  RawDataObject *object = rawDataObject_create(bytes, 3);
                  rawDataObject_free(object);
                  return object != nullptr;
              }),
              2);

    RawDataObject *first = rawDataObject_create(bytes, 3);
    RawDataObject *second = rawDataObject_create(bytes, 2);
    allocationFailureSweep([&] {
        RawDataObject *result = rawDataObject_concat(first, second);
        rawDataObject_free(result);
        return result != nullptr;
    });
    allocationFailureSweep([&] {
        RawDataObject *result = rawDataObject_concatPartially(first, second, 1, 1);
        rawDataObject_free(result);
        return result != nullptr;
    });

    // In place: a failed append or update keeps the old content.
    const uint8_t *oldData = first->data;
    EXPECT_EQ(allocationFailureSweep(
                  [&] { return rawDataObject_appendRawDataArray(first, bytes, 1); },
                  [&](int) {
                      EXPECT_EQ(first->data, oldData);
                      EXPECT_EQ(bytesOf(first), (Bytes{9, 8, 7}));
                  }),
              1);
    EXPECT_EQ(bytesOf(first), (Bytes{9, 8, 7, 9}));
    rawDataObject_update(first, bytes, 3);
    oldData = first->data;
    EXPECT_EQ(allocationFailureSweep(
                  [&] {
                      rawDataObject_update(first, bytes, 2);
                      return first->length == 2;
                  },
                  [&](int) {
                      EXPECT_EQ(first->data, oldData);
                      EXPECT_EQ(bytesOf(first), (Bytes{9, 8, 7}));
                  }),
              1);
    rawDataObject_free(first);
    rawDataObject_free(second);
}

}  // namespace
