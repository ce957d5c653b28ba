/*
 * initialize_test.cpp - vInitializeScanner: the attach record, the commands,
 * what each field reports, and what a failure after the INQUIRY leaves
 * (a failed INQUIRY and a device that is no scanner are in the failure loops).
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

/* The whole block: the model value is 18 for model 150 only; a letter or
 * blank ends the minor version; lamp page bits above 2 are not options;
 * wUnused20 and the header around dwResult are not the driver's. */
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
        InitBlock want = Poisoned<InitBlock>();
        want.wAttachParam1 = 0x0102, want.wAttachParam2 = 0x0304;
        want.wModelValue = row.ModelValue, want.wFirmwareVersion = row.Version, want.wDeviceKind = row.Kind;
        want.wInfo1 = want.wInfo2 = want.wInfo3 = 256, want.wInfo4 = 150, want.wInfo5 = 13;
        EXPECT_EQ(Value(block.dwResult), 1u);
        ExpectOnlyResultWritten(want, block);
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
    EXPECT_EQ(Value(block.wFirmwareVersion), 0x0117);
    EXPECT_EQ(Value(block.wInfo5), 13);
    EXPECT_EQ(LensCount, 3);
}

/* Each call attaches afresh and reads the parameter page with the lens
 * selected before it. */
TEST_F(InitializeTest, AttachesReadsThePagesAndKeepsTheLensSelection)
{
    std::vector<uint8_t> page = ParameterPage();
    page[27] = 2;
    ASSERT_EQ(Value(Initialize({InquiryData("1.00", 168), page, StatusPage()}).dwResult), 1u);
    ASSERT_EQ(fake::AttachCalls(), 1);
    AttachRecord attach = fake::LastAttach();
    EXPECT_EQ(Value(attach.wKind), 7);
    EXPECT_EQ(Value(attach.wAttachParam2), 0x0304);
    EXPECT_EQ(Value(attach.wAttachParam1), 0x0102);
    EXPECT_EQ(Value(attach.wVersion), 1);
    EXPECT_EQ(SentCdbs(), (std::vector<std::string>{kInquiryCdb, ParameterReadCdb(0, 0), kLampReadCdb}));
    EXPECT_EQ(LensCount, 2);
    LensBlock lens = {};
    lens.wLens = 1;
    vScannerMutiLens(&lens);
    ASSERT_EQ(Value(lens.dwResult), 1u);

    page[27] = 3;
    InitBlock block = Initialize({InquiryData("1.00", 150), page, StatusPage()});
    EXPECT_EQ(Value(block.dwResult), 1u);
    EXPECT_EQ(LensCount, 3);
    EXPECT_EQ(SelectedLens, 1);
    EXPECT_EQ(SentCdbs(), (std::vector<std::string>{kInquiryCdb, ParameterReadCdb(1, 0), kLampReadCdb}));
    EXPECT_EQ(fake::AttachCalls(), 1);
}

} // namespace
