// Fixture of the ES10b, package loading and download tests: an open card
// connection to the simulated eUICC, server data built by hand, and a
// session driven up to "prepared" through the engine's own ES10b requests.
#ifndef HBR_DOWNLOAD_TEST_UTIL_H
#define HBR_DOWNLOAD_TEST_UTIL_H

#include <cstring>
#include <string>
#include <vector>

#include "bpp_loader.h"
#include "es10b.h"
#include "rsp_test_util.h"
#include "se_media_test_util.h"

class DownloadFixture : public SeMediaFixture {
protected:
    void SetUp() override
    {
        SeMediaFixture::SetUp();
        std::memset(&data_, 0, sizeof(data_));
        std::memset(&pair_, 0, sizeof(pair_));
        std::memset(&pir_, 0, sizeof(pir_));
        ASSERT_TRUE(_lpaManagerConnectReaderAndSelectISDR());
        lpaResetErrorCode();
    }
    void TearDown() override
    {
        hbr_test::FreeServerData(&data_);
        lpaManagerFreeRawDataPair(&pair_);
        rawDataObject_free(pir_.raw);
        rawDataObject_free(pir_.base64);
        pir_.raw = pir_.base64 = nullptr;
        SeMediaFixture::TearDown();
    }

    static hbrsim::Download &download() { return sim().euicc.isdr.download; }
    static uint32_t TakeError()
    {
        uint32_t code = lpaGetErrorCodeNoClear();
        lpaResetErrorCode();
        return code;
    }

    static void SetField(TDataValue *field, const hbr_test::Bytes &value)
    {
        if (field->val != nullptr) LPA_FREE(field->val);
        field->val = nullptr;
        field->len = 0;
        if (value.empty()) return;
        field->val = static_cast<uint8_t *>(LPA_MALLOC(value.size()));
        std::memcpy(field->val, value.data(), value.size());
        field->len = value.size();
    }
    static hbr_test::Bytes Pair(const TRawDataPair &pair)
    {
        return pair.raw ? hbr_test::Bytes(pair.raw->data, pair.raw->data + pair.raw->length) : hbr_test::Bytes();
    }
    static std::string PairText(const TRawDataPair &pair)
    {
        return pair.base64 ? std::string(reinterpret_cast<const char *>(pair.base64->data)) : std::string();
    }

    // ctxParams1: A0 { 80 matchingId, A1 deviceInfo }.
    static RawDataObject *CtxParams1(const std::string &matchingId = "")
    {
        hbr_test::Bytes ctx = hbr_test::Tlv(
            0xA0, hbr_test::Cat({hbr_test::Tlv(0x80, hbr_test::Bytes(matchingId.begin(), matchingId.end())),
                                 hbr_test::Tlv(0xA1, hbr_test::Cat({hbr_test::Tlv(0x80, hbr_test::HexToBytes("35290611")),
                                                                     hbr_test::Tlv(0xA1, hbr_test::Bytes())}))}));
        return rawDataObject_create(ctx.data(), ctx.size());
    }

    // Fills serverSigned1 & co. for the current challenge, like an SM-DP+.
    void FillServerData1(const hbr_test::Bytes &txid, size_t certificateSize = 300)
    {
        using namespace hbr_test;
        SetField(&data_._serverSigned1, Tlv(0x30, Cat({Tlv(0x80, txid), Tlv(0x81, Pair(pair_)),
                                                        Tlv(0x83, Bytes{'d', 'p'}), Tlv(0x84, Bytes(16, 0x44))})));
        SetField(&data_._serverSignature1, Tlv(0x5F37, Bytes(64, 0x51)));
        SetField(&data_._euiccCiPKIdToBeUsed, Tlv(0x04, Bytes(20, 0x22)));
        SetField(&data_._serverCertificate, Tlv(0x30, Bytes(certificateSize, 0x30)));
    }
    void FillServerData2(const hbr_test::Bytes &txid, bool ccRequired = false, size_t certificateSize = 300)
    {
        using namespace hbr_test;
        SetField(&data_._smdpSigned2, Tlv(0x30, Cat({Tlv(0x80, txid), Tlv(0x01, Bytes{uint8_t(ccRequired ? 0xFF : 0)}),
                                                      Tlv(0x5F49, Bytes(65, 4))})));
        SetField(&data_._smdpSignature2, Tlv(0x5F37, Bytes(64, 0x52)));
        SetField(&data_._smdpCertificate, Tlv(0x30, Bytes(certificateSize, 0x30)));
    }

    // Challenge, AuthenticateServer and PrepareDownload through the engine.
    void PrepareSession(const hbr_test::Bytes &txid)
    {
        ASSERT_TRUE(lpaManagerES10b_GetEuiccChallenge(&pair_));
        FillServerData1(txid);
        RawDataObject *ctx = CtxParams1();
        ASSERT_TRUE(lpaManagerES10b_AuthenticateServer(&data_, ctx, &pair_));
        rawDataObject_free(ctx);
        FillServerData2(txid);
        ASSERT_TRUE(lpaManagerES10b_PrepareDownload(&data_, "", &pair_));
        ASSERT_EQ(download().state, hbrsim::DownloadState::Prepared);
    }

    struct PackageShape {
        std::string iccid = "8944476500001234567";
        std::string name = "Loaded";
        size_t piece = 16;                   // size of each 88 piece of the metadata
        std::vector<size_t> elements = {20, 30, 40};
        bool withA2 = false;
        hbr_test::Bytes extraBeforeA3;       // whole TLVs put between A1/A2 and A3
        hbr_test::Bytes extraAfterA3;
        hbr_test::Bytes extraInsideA1;       // after the 88 pieces
        hbr_test::Bytes extraInsideA3;       // after the first 86
        bool onlyThreeObjects = false;
    };
    static hbr_test::Bytes Metadata(const PackageShape &shape)
    {
        using namespace hbr_test;
        std::string digits = shape.iccid + (shape.iccid.size() % 2 ? "F" : "");
        Bytes iccid;
        for (size_t i = 0; i < digits.size(); i += 2) {
            iccid.push_back(static_cast<uint8_t>(std::stoul(std::string{digits[i + 1], digits[i]}, nullptr, 16)));
        }
        return Tlv(0xBF25, Cat({Tlv(0x5A, iccid), Tlv(0x91, Bytes{'S', 'P'}),
                                Tlv(0x92, Bytes(shape.name.begin(), shape.name.end()))}));
    }
    static hbr_test::Bytes Package(const hbr_test::Bytes &txid, const PackageShape &shape)
    {
        using namespace hbr_test;
        Bytes crt = Tlv(0xA6, Cat({Tlv(0x80, Bytes{0x88}), Tlv(0x81, Bytes{0x10}), Tlv(0x84, Bytes(8, 3))}));
        Bytes bf23 = Tlv(0xBF23, Cat({Tlv(0x82, Bytes{1}), Tlv(0x80, txid), crt, Tlv(0x5F49, Bytes(65, 4)),
                                      Tlv(0x5F37, Bytes(64, 5))}));
        Bytes a0 = Tlv(0xA0, Tlv(0x87, HexToBytes("BF2400")));
        Bytes metadata = Metadata(shape);
        Bytes pieces;
        for (size_t i = 0; i < metadata.size(); i += shape.piece) {
            size_t n = std::min(shape.piece, metadata.size() - i);
            pieces = Cat({pieces, Tlv(0x88, Bytes(metadata.begin() + i, metadata.begin() + i + n))});
        }
        Bytes a1 = Tlv(0xA1, Cat({pieces, shape.extraInsideA1}));
        Bytes elements;
        for (size_t i = 0; i < shape.elements.size(); ++i) {
            elements = Cat({elements, Tlv(0x86, Bytes(shape.elements[i], static_cast<uint8_t>(i)))});
            if (i == 0) elements = Cat({elements, shape.extraInsideA3});
        }
        Bytes a3 = Tlv(0xA3, elements);
        if (shape.onlyThreeObjects) return Tlv(0xBF36, Cat({bf23, a0, a3}));
        Bytes a2 = shape.withA2 ? Tlv(0xA2, Tlv(0x87, Bytes(24, 7))) : Bytes();
        return Tlv(0xBF36, Cat({bf23, a0, a1, a2, shape.extraBeforeA3, a3, shape.extraAfterA3}));
    }
    bool Load(const hbr_test::Bytes &package)
    {
        SetField(&data_._boundProfilePackage, package);
        packageError_ = false;
        es10Before_ = sim().records().es10.size();
        return lpaManagerES10b_LoadBoundProfilePackage(&data_, &pir_, &packageError_);
    }
    // ES10 requests since the last Load.
    std::vector<hbrsim::Es10Record> LoadRequests() const
    {
        const auto &all = sim().records().es10;
        return std::vector<hbrsim::Es10Record>(all.begin() + static_cast<long>(es10Before_), all.end());
    }

    TServerData data_;
    TRawDataPair pair_;
    TPirData pir_;
    bool packageError_ = false;
    size_t es10Before_ = 0;
};

#endif  // HBR_DOWNLOAD_TEST_UTIL_H
