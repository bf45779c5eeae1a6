
namespace {
// Sends one ES10 request; answers its data with the status word checked.
Bytes es10(const Bytes &request)
{
    uint16_t sw = 0;
    std::vector<uint8_t> data(SE_MEDIA_APDU_RESPONSE_SIZE);
    size_t length = 0;
    RawDataObject *object = rawDataObject_create(request.data(), request.size());
    bool ok = buildAndSendStoreDataCase4(object, &sw, data.data(), data.size(), &length);
    rawDataObject_free(object);
    EXPECT_TRUE(ok);
    EXPECT_EQ(0x9000, sw);
    return ok ? Bytes(data.begin(), data.begin() + static_cast<long>(length)) : Bytes();
}
}  // namespace

TEST_F(SeMedia, Es10RequestsThroughTheApduLayer)
{
    using hbrsim::iccidFromDigits;
    using hbrsim::NotificationEvent;
    using hbrsim::tlv;
    hbrsim::Seed seed;
    seed.profile(hbrsim::ProfileBuilder("8944000000000000011").enabled().name("One")
                     .notifyOn(NotificationEvent::Disable, "dp.example"));
    seed.profile(hbrsim::ProfileBuilder("8944000000000000022").name("Two").profileClass(hbrsim::ClassTest)
                     .notifyOn(NotificationEvent::Enable, "dp.example"));
    seed.notification(200, NotificationEvent::Install, "dp.example", "8944000000000000022");
    seed.defaultDpAddress("dp.example");
    hbrsim::seam::reset(seed);
    open();
    const Bytes one = iccidFromDigits("8944000000000000011");
    const Bytes two = iccidFromDigits("8944000000000000022");

    EXPECT_EQ(2u, es10(hexBytes("BF2D035C015A")).size() == 0 ? 0u : 2u);
    Bytes list = es10(hexBytes("BF2D075C055A9F709592"));
    EXPECT_NE(std::string::npos, hbrsim::toHex(list).find(hbrsim::toHex(tlv(0x92, Bytes{'T', 'w', 'o'}))));
    EXPECT_EQ(hexBytes("BF3103800100"), es10(tlv(0xBF31, {tlv(0xA0, tlv(0x5A, two)), hexBytes("8101FF")})));
    EXPECT_EQ(hexBytes("BF3203800100"), es10(tlv(0xBF32, {tlv(0xA0, tlv(0x5A, two)), hexBytes("8101FF")})));
    EXPECT_EQ(hexBytes("BF2903800100"), es10(tlv(0xBF29, {tlv(0x5A, one), tlv(0x90, Bytes{'m', 'e'})})));
    EXPECT_EQ("me", sim().euicc.isdr.findByIccid(one)->nickname);
    EXPECT_EQ(hexBytes("BF3303800100"), es10(tlv(0xBF33, tlv(0x5A, one))));
    EXPECT_EQ(hexBytes("BF3403800100"), es10(hexBytes("BF340482020640")));
    EXPECT_TRUE(sim().state().profiles.empty());

    EXPECT_EQ(hexBytes("BF3C0E800A64702E6578616D706C65") ,
              Bytes(es10(hexBytes("BF3C00")).begin(), es10(hexBytes("BF3C00")).begin() + 15));
    EXPECT_EQ(hexBytes("BF3F03800100"), es10(hexBytes("BF3F028000")));
    EXPECT_FALSE(sim().state().defaultDpAddress.has_value());

    // Notifications: the seeded install, then the disable of One (switched
    // off by the enable of Two) and the enable of Two.
    Bytes listed = es10(hexBytes("BF2800"));
    EXPECT_NE(std::string::npos, hbrsim::toHex(listed).find("800200C8"));
    Bytes pir = es10(hexBytes("BF2B05A0038001C8"));
    EXPECT_NE(std::string::npos, hbrsim::toHex(pir).find("BF37"));
    EXPECT_EQ(hexBytes("BF3003800100"), es10(hexBytes("BF30038001C8")));
    EXPECT_EQ(2u, sim().state().notifications.size());
    EXPECT_EQ(0u, _lpaErrorCodePeek());
}
