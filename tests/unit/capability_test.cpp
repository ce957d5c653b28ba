/*
 * vScannerCapability: the fields from the two pages, the feature bits, the
 * device setting exchange and the resolution list.
 */
#include "device_control_fixture.h"

#include <array>

using namespace control_test;

namespace {

/* A block with real lists behind its pointers; every other byte, and the
 * entries of the optional lists, start as 0xA5 so that untouched ones show. */
struct CapabilityCall {
    CapabilityBlock Block = Poisoned<CapabilityBlock>();
    std::array<int32_t, 256> Contrast, Brightness;
    std::array<uint32_t, 256> Adjust;
    std::array<uint16_t, 150> Resolutions;
    std::array<uint16_t, 12> Patterns;

    CapabilityCall(uint16_t sources, uint16_t features, std::vector<FakeReply> replies)
    {
        Resolutions.fill(0xA5A5);
        Block.lpContrastList = Contrast.data();
        Block.lpBrightnessList = Brightness.data();
        Block.lpAdjustList = Adjust.data();
        Block.lpResolutionList = Resolutions.data();
        Block.lpPatternList = Patterns.data();
        Block.wSources = sources;
        Block.wFeatures = features;
        Script(replies);
    }
    void Run() { vScannerCapability(&Block); }
};

using CapabilityTest = DeviceControlTest;

TEST_F(CapabilityTest, ReportsWhatThePagesSay)
{
    std::vector<uint8_t> page = ParameterPage(5100, 7000, 600);
    page[0] = 0x80;
    Put16(page, 5, 2400);
    CapabilityCall call(0, 0, {Reply(page), Reply(StatusPage(0, 0, 0, 0x05))});
    call.Block.lpResolutionList = nullptr; /* the last two lists are optional */
    call.Run();
    const CapabilityBlock &b = call.Block;

    EXPECT_EQ(Value(b.dwResult), 1u);
    EXPECT_EQ(SentCdbs(), (std::vector<std::string>{ParameterReadCdb(0, 0), kLampReadCdb}));
    EXPECT_EQ(Value(b.wMaxResolutionX), 1200);
    EXPECT_EQ(Value(b.wImageTypes), 15);
    EXPECT_EQ(Value(b.wSources), 1 + 2 + 4);
    EXPECT_EQ(Value(b.wMaxLength), 11666);
    EXPECT_EQ(Value(b.wMaxWidth), 8500);
    /* Not asked for: offsets 64 to 68 stay as they were. */
    EXPECT_EQ(Value(b.wBaseResolution), 0xA5A5);
    EXPECT_EQ(Value(b.wMaxResolutionY), 0xA5A5);
    EXPECT_EQ(Value(b.wDeviceSetting), 0xA5A5);
    EXPECT_EQ(Value(b.wReserved), 0xA5A5);
    EXPECT_EQ(Value(b.dwReserved), 0xA5A5A5A5u);
    EXPECT_EQ(call.Resolutions[0], 0xA5A5) << "the missing list is left alone";

    /* Asked for: the extended fields. No setting support on this page:
     * nothing exchanged, nothing sent. */
    CapabilityCall extended(0, 0x8000, {Reply(page), Reply(StatusPage())});
    extended.Run();
    EXPECT_EQ(Value(extended.Block.wFeatures), 0x898D);
    EXPECT_EQ(Value(extended.Block.wBaseResolution), 600);
    EXPECT_EQ(Value(extended.Block.wMaxResolutionY), 2400);
    EXPECT_EQ(Value(extended.Block.wDeviceSetting), 0xA5A5);
    EXPECT_EQ(fake::Commands().size(), 2u);
}

/* Sources bits 3 and 4 choose the page (0x0004 is a scan source bit); the
 * sources returned come from the installed options, the feature bits and
 * lens count from page bytes 18, 27 and 29, whatever the caller's bits. */
TEST_F(CapabilityTest, PageAndOptionsDecideSourcesFeaturesAndLenses)
{
    const struct {
        uint16_t Sources;
        uint8_t Variant, Options, Byte18, Byte27, Byte29;
        uint16_t SourcesOut, Features, Lenses;
    } rows[] = {
        {0x0010, 1, 0x01, 0x10, 1, 0x00, 3, 0x0B8D, 1}, /* device setting supported */
        {0x0018, 2, 0x02, 0x00, 1, 0x01, 1, 0x098D, 1}, /* bit 3 wins; the model flag is not reported */
        {0x0004, 0, 0x04, 0xEF, 1, 0xFD, 5, 0x098D, 1}, /* neither bit among the others */
        {0x0002, 0, 0xF8, 0x10, 4, 0x02, 1, 0x0F8D, 4},
        {0x0000, 0, 0x00, 0x00, 0, 0x00, 1, 0x098D, 1}, /* a page reporting no lens still has one */
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(testing::Message() << "row " << &row - rows);
        std::vector<uint8_t> page = ParameterPage();
        page[0] = 0x7F; /* everything but the colour default */
        page[18] = row.Byte18;
        page[27] = row.Byte27;
        page[29] = row.Byte29;
        CapabilityCall call(row.Sources, 0x7FFF, {Reply(page), Reply(StatusPage(0, 0, 0, row.Options))});
        call.Run();
        EXPECT_EQ(Value(call.Block.dwResult), 1u);
        EXPECT_EQ(SentCdbs(), (std::vector<std::string>{ParameterReadCdb(0, row.Variant), kLampReadCdb}))
            << "no status SEND without the request bit";
        EXPECT_EQ(Value(call.Block.wImageTypes), 1);
        EXPECT_EQ(Value(call.Block.wSources), row.SourcesOut);
        EXPECT_EQ(Value(call.Block.wFeatures), row.Features);
        EXPECT_EQ(Value(call.Block.wLensCount), row.Lenses);
    }
}

/* On a page that supports it: a query turns wDeviceSetting into the
 * current value with bit 7; 0 clears bits 6 and 7 of status byte 2; any
 * other value is written with bit 7 and lamp byte 1. The exchange works on
 * a private copy: the shared one is not touched. */
TEST_F(CapabilityTest, DeviceSettingExchange)
{
    const struct { uint16_t SettingIn; uint8_t StatusByte2; uint16_t SettingOut; const char *Sent; } rows[] = {
        {0x0045, 0x47, 0x0045, "01 10 85 11 0F 05 01 02 33"},
        {0xFFFF, 0x47, 0x0087, "01 10 87 11 0F 05 01 02 33"},
        {0x0000, 0xC5, 0x0000, "03 10 05 11 0F 05 01 02 33"}, /* the lamp byte goes back as read */
    };
    std::vector<uint8_t> page = ParameterPage();
    page[18] = 0x10;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.SettingIn);
        std::memcpy(LampStatus.Bytes, "\x21\x22\x23\x24\x25\x26\x27\x28\x29", 9);
        CapabilityCall call(0, 0x8000, {Reply(page), Reply({0x03, 0x10, row.StatusByte2, 0x11, 0x0F, 0x05, 0x01, 0x02, 0x33})});
        call.Block.wDeviceSetting = row.SettingIn;
        call.Run();
        EXPECT_EQ(Value(call.Block.dwResult), 1u);
        EXPECT_EQ(Value(call.Block.wDeviceSetting), row.SettingOut);
        EXPECT_EQ(Value(call.Block.wFeatures), 0x8B8D);
        ASSERT_EQ(SentCdbs(), (std::vector<std::string>{ParameterReadCdb(0, 0), kLampReadCdb, kLampSendCdb}));
        EXPECT_EQ(fake::Hex(fake::Commands()[2].DataOut), row.Sent);
        EXPECT_EQ(fake::Hex({LampStatus.Bytes, LampStatus.Bytes + 9}), "21 22 23 24 25 26 27 28 29");
    }
}

/* r = base / 100 truncated: steps of r up to 100 r, then of 2 r from the base. */
TEST_F(CapabilityTest, ResolutionListStepsByAHundredthOfTheBase)
{
    CapabilityCall call(0, 0, {Reply(ParameterPage(5100, 7000, 650)), Reply(StatusPage())});
    call.Run();
    for (int k = 0; k < 150; ++k)
        ASSERT_EQ(call.Resolutions[k], k < 100 ? 6 * (k + 1) : 650 + 12 * (k - 99)) << k;
}

} // namespace
