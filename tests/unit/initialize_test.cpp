/*
 * initialize_test.cpp - vInitializeScanner against the fake adapter: the
 * attach record, the commands and their order, what each field reports, and
 * which fields a failure after the INQUIRY leaves alone (a failed INQUIRY
 * and a device that is no scanner are in the failure loops).
 */
#include "device_control_fixture.h"

using namespace control_test;

namespace {

using InitializeTest = DeviceControlTest;

/* Initializes a block of 0xA5 bytes against the queued replies. */
InitBlock Initialize(const std::vector<std::vector<uint8_t>> &replies, uint32_t lastStatus = BUSLNK_GOOD)
{
    fake::Reset();
    for (size_t k = 0; k < replies.size(); ++k)
        fake::Queue(k + 1 == replies.size() ? lastStatus : uint32_t{BUSLNK_GOOD}, replies[k]);
    InitBlock block = Poisoned<InitBlock>();
    block.wAttachParam1 = 0x0102;
    block.wAttachParam2 = 0x0304;
    vInitializeScanner(&block);
    return block;
}

TEST_F(InitializeTest, IdentifiesTheScannerAndReportsWhatItFound)
{
    std::vector<uint8_t> page = ParameterPage();
    page[0] = 0xB0; /* kind bits 0x30 */
    page[27] = 2;
    InitBlock block = Initialize({InquiryData("1.23", 168), page, StatusPage(0, 0, 0, 0x05)});

    EXPECT_EQ(Value(block.dwResult), 1u);
    ASSERT_EQ(fake::AttachCalls(), 1);
    AttachRecord attach = fake::LastAttach();
    EXPECT_EQ(Value(attach.wKind), 7);
    EXPECT_EQ(Value(attach.wAttachParam2), 0x0304);
    EXPECT_EQ(Value(attach.wAttachParam1), 0x0102);
    EXPECT_EQ(Value(attach.wVersion), 1);
    EXPECT_EQ(SentCdbs(), (std::vector<std::string>{kInquiryCdb, ParameterReadCdb(0, 0), kLampReadCdb}));

    EXPECT_EQ(Value(block.wModelValue), 255);
    EXPECT_EQ(Value(block.wFirmwareVersion), 0x0117);
    EXPECT_EQ(Value(block.wDeviceKind), 2 + 0x40 + 0x20);
    EXPECT_EQ(Value(block.wInfo1), 256);
    EXPECT_EQ(Value(block.wInfo2), 256);
    EXPECT_EQ(Value(block.wInfo3), 256);
    EXPECT_EQ(Value(block.wInfo4), 150);
    EXPECT_EQ(Value(block.wInfo5), 13);
    /* Not the driver's to write. */
    EXPECT_EQ(Value(block.wUnused20), 0xA5A5);
    EXPECT_EQ(Value(block.wReserved), 0xA5A5);
    EXPECT_EQ(Value(block.dwReserved), 0xA5A5A5A5u);
    EXPECT_EQ(ModelCode, 168);
    EXPECT_EQ(LensCount, 2);
}

/* The model value is 18 for model 150 only; the firmware version is the
 * revision text's major in the high byte and two-digit minor in the low, a
 * letter or blank in the last place counting 0; the device kind comes from
 * bits 4-5 of page byte 0 and the option bits from the lamp page (bits
 * above 2 are not options). */
TEST_F(InitializeTest, ModelFirmwareAndDeviceKind)
{
    const struct {
        uint8_t Model;
        const char *Revision;
        uint8_t PageByte0, Options;
        uint16_t ModelValue, Version, Kind;
    } rows[] = {
        {150, "1.23", 0x20, 0x00, 18, 0x0117, 4},   {168, "2.1a", 0x30, 0x00, 255, 0x020A, 2},
        {0, "0.05", 0x00, 0x00, 255, 0x0005, 1},    {151, "9.99", 0x10, 0x00, 255, 0x0963, 1},
        {150, "3.0 ", 0xCF, 0x00, 18, 0x0300, 1},   {168, "1.23", 0xB0, 0x05, 255, 0x0117, 0x62},
        {168, "1.23", 0x20, 0x02, 255, 0x0117, 0x84}, {168, "1.23", 0x00, 0x07, 255, 0x0117, 0xE1},
        {168, "1.23", 0x30, 0xF8, 255, 0x0117, 2},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(testing::Message() << int(row.Model) << " " << row.Revision << " byte 0 " << int(row.PageByte0)
                                        << " options " << int(row.Options));
        std::vector<uint8_t> page = ParameterPage();
        page[0] = row.PageByte0;
        InitBlock block = Initialize({InquiryData(row.Revision, row.Model), page, StatusPage(0, 0, 0, row.Options)});
        EXPECT_EQ(Value(block.dwResult), 1u);
        EXPECT_EQ(Value(block.wModelValue), row.ModelValue);
        EXPECT_EQ(Value(block.wFirmwareVersion), row.Version);
        EXPECT_EQ(Value(block.wDeviceKind), row.Kind);
        EXPECT_EQ(ModelCode, row.Model);
    }
}

TEST_F(InitializeTest, FailedPageReadLeavesOnlyModelAndFirmware)
{
    fake::Queue(BUSLNK_GOOD, InquiryData("2.1a", 150));
    fake::Queue(fake::CheckCondition(0x3A, 0x00)); /* -704 */
    InitBlock before = Poisoned<InitBlock>();
    InitBlock block = before;
    vInitializeScanner(&block);

    EXPECT_EQ(Value(block.dwResult), 0x0000FD40u);
    EXPECT_EQ(Value(block.wModelValue), 18);
    EXPECT_EQ(Value(block.wFirmwareVersion), 0x020A);
    before.wModelValue = block.wModelValue;
    before.wFirmwareVersion = block.wFirmwareVersion;
    ExpectOnlyResultWritten(before, block);
    EXPECT_EQ(ModelCode, 150);
    EXPECT_EQ(LensCount, 1); /* the lens count comes from the page that failed */
}

TEST_F(InitializeTest, FailedStatusReadLeavesAllButTheOptionBits)
{
    std::vector<uint8_t> page = ParameterPage();
    page[0] = 0x20;
    page[27] = 3;
    InitBlock block = Initialize({InquiryData(), page, {}}, BUSLNK_ADAPTER_FAILURE); /* -501 */

    EXPECT_EQ(Value(block.dwResult), 0x0000FE0Bu);
    EXPECT_EQ(Value(block.wDeviceKind), 4); /* no option bits */
    EXPECT_EQ(Value(block.wModelValue), 255);
    EXPECT_EQ(Value(block.wFirmwareVersion), 0x0117);
    EXPECT_EQ(Value(block.wInfo1), 256);
    EXPECT_EQ(Value(block.wInfo4), 150);
    EXPECT_EQ(Value(block.wInfo5), 13);
    EXPECT_EQ(LensCount, 3);
}

TEST_F(InitializeTest, ReinitializingKeepsTheLensSelectionAndReadsWithIt)
{
    std::vector<uint8_t> page = ParameterPage();
    page[27] = 2;
    ASSERT_EQ(Value(Initialize({InquiryData("1.00", 168), page, StatusPage()}).dwResult), 1u);
    LensBlock lens = {};
    lens.wLens = 1;
    vScannerMutiLens(&lens);
    ASSERT_EQ(Value(lens.dwResult), 1u);

    page[27] = 3;
    InitBlock block = Initialize({InquiryData("1.00", 150), page, StatusPage()});
    EXPECT_EQ(Value(block.dwResult), 1u);
    EXPECT_EQ(ModelCode, 150);
    EXPECT_EQ(LensCount, 3);
    EXPECT_EQ(SelectedLens, 1);
    EXPECT_EQ(SentCdbs(), (std::vector<std::string>{kInquiryCdb, ParameterReadCdb(1, 0), kLampReadCdb}));
    EXPECT_EQ(fake::AttachCalls(), 1); /* each call attaches afresh */
}

} // namespace
