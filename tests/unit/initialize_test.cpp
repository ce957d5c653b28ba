/* vInitializeScanner: the attach, the commands, each field, and what a
 * failure after the INQUIRY leaves; vScannerMutiLens, which needs it. */
#include "device_control_fixture.h"

using namespace control_test;

namespace {

using InitializeTest = DeviceControlTest;

/* Initializes a block of 0xA5 bytes against the queued replies. */
InitBlock Initialize(const std::vector<FakeReply> &replies)
{
    Script(replies);
    InitBlock block = Poisoned<InitBlock>();
    block.wAttachParam1 = 0x0102;
    block.wAttachParam2 = 0x0304;
    vInitializeScanner(&block);
    return block;
}

/* The whole block: the model value is 18 for model 150 only; a letter or
 * blank ends the minor version; page byte 0 bits 4-5 give the kind, lamp
 * page option bits 0-2 are added to it. */
TEST_F(InitializeTest, ModelFirmwareAndDeviceKind)
{
    const struct {
        uint8_t Model;
        const char *Revision;
        uint8_t PageByte0, Options;
        uint16_t ModelValue, Version, Kind;
    } rows[] = {
        {150, "1.23", 0x20, 0x00, 18, 0x0117, 4},    {168, "2.1a", 0xB0, 0x05, 255, 0x020A, 0x62},
        {0, "3.0 ", 0x10, 0x02, 255, 0x0300, 0x81}, {151, "9.99", 0xCF, 0xF8, 255, 0x0963, 1},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.Revision);
        std::vector<uint8_t> page = ParameterPage();
        page[0] = row.PageByte0;
        InitBlock block =
            Initialize({Reply(InquiryData(row.Revision, row.Model)), Reply(page), Reply(StatusPage(0, 0, 0, row.Options))});
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
    InitBlock block = Initialize({Reply(InquiryData()), Reply(page), Reply({}, BUSLNK_ADAPTER_FAILURE)}); /* -501 */

    EXPECT_EQ(Value(block.dwResult), 0x0000FE0Bu);
    EXPECT_EQ(Value(block.wDeviceKind), 4); /* no option bits */
    EXPECT_EQ(Value(block.wFirmwareVersion), 0x0117);
    EXPECT_EQ(Value(block.wInfo5), 13);
    EXPECT_EQ(LensCount, 3);
}

TEST_F(InitializeTest, EachCallAttachesAfreshAndReadsThePages)
{
    for (int call = 0; call < 2; ++call) {
        ASSERT_EQ(Value(Initialize({Reply(InquiryData()), Reply(ParameterPage()), Reply(StatusPage())}).dwResult), 1u);
        ASSERT_EQ(fake::AttachCalls(), 1);
        AttachRecord attach = fake::LastAttach();
        EXPECT_EQ((std::vector<uint16_t>{attach.wKind, attach.wAttachParam2, attach.wAttachParam1, attach.wVersion}),
                  (std::vector<uint16_t>{7, 0x0304, 0x0102, 1}));
        EXPECT_EQ(SentCdbs(), (std::vector<std::string>{kInquiryCdb, ParameterReadCdb(0, 0), kLampReadCdb}));
    }
}

/* A lens below the count once initialized; the choice is not sent, but the
 * next parameter page read (a new initialization's too) carries it. */
TEST_F(InitializeTest, LensSelection)
{
    auto initialize = [](uint8_t lenses) {
        std::vector<uint8_t> page = ParameterPage();
        page[27] = lenses;
        ASSERT_EQ(Value(Initialize({Reply(InquiryData()), Reply(page), Reply(StatusPage())}).dwResult), 1u);
        fake::Reset();
    };
    auto select = [](uint16_t lens) { /* only dwResult may change */
        LensBlock before = Poisoned<LensBlock>();
        before.wLens = lens;
        LensBlock block = before;
        vScannerMutiLens(&block);
        ExpectOnlyResultWritten(before, block);
        return uint32_t{block.dwResult};
    };
    const uint32_t refused = 0x0000FFFFu; /* -1 with the high half 0 */
    EXPECT_EQ(select(0), refused) << "before initialization";
    for (uint8_t lenses : {1, 0}) {
        initialize(lenses);
        EXPECT_EQ(select(0), refused) << int(lenses) << " lenses";
    }
    initialize(2);
    EXPECT_EQ(select(2), refused);
    EXPECT_EQ(select(0xFFFF), refused); /* unsigned: not a negative lens */
    EXPECT_EQ(SelectedLens, 0);
    EXPECT_EQ(select(1), 1u);
    EXPECT_TRUE(fake::Commands().empty());
    fake::Queue(BUSLNK_GOOD, ParameterPage());
    ScanAttributeBlock defaults = {};
    vDefaultAttribute(&defaults);
    EXPECT_EQ(SentCdbs(), std::vector<std::string>{ParameterReadCdb(1, 0)});
    std::vector<uint8_t> page = ParameterPage();
    page[27] = 3;
    Initialize({Reply(InquiryData()), Reply(page), Reply(StatusPage())});
    EXPECT_EQ(SentCdbs(), (std::vector<std::string>{kInquiryCdb, ParameterReadCdb(1, 0), kLampReadCdb}));
    EXPECT_EQ(LensCount, 3);
    EXPECT_EQ(select(0), 1u);
    EXPECT_EQ(SelectedLens, 0);
}

} // namespace
