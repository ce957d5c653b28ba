/*
 * initialize_test.cpp - vInitializeScanner against the fake adapter: the
 * attach record, the commands and their order, the identification checks,
 * what each field reports, and which fields each failure leaves alone.
 */
#include "device_control_fixture.h"

using namespace control_test;

namespace {

class InitializeTest : public DeviceControlTest {
protected:
    /* A block whose every byte is 0xA5, so untouched fields show. */
    static InitBlock PoisonedBlock()
    {
        InitBlock block;
        std::memset(&block, 0xA5, sizeof block);
        block.wAttachParam1 = 0x0102;
        block.wAttachParam2 = 0x0304;
        return block;
    }

    static void QueueDevice(const std::vector<uint8_t> &inquiry, const std::vector<uint8_t> &page,
                            const std::vector<uint8_t> &status)
    {
        fake::Queue(BUSLNK_GOOD, inquiry);
        fake::Queue(BUSLNK_GOOD, page);
        fake::Queue(BUSLNK_GOOD, status);
    }
};

TEST_F(InitializeTest, IdentifiesTheScannerAndReportsWhatItFound)
{
    std::vector<uint8_t> page = ParameterPage();
    page[0] = 0xB0; /* kind bits 0x30 */
    page[27] = 2;
    QueueDevice(InquiryData("1.23", 168), page, StatusPage(0, 0, 0, 0x05));

    InitBlock block = PoisonedBlock();
    vInitializeScanner(&block);

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

TEST_F(InitializeTest, ModelValueIs18OnlyForModel150)
{
    for (uint8_t model : {150, 168, 0, 151}) {
        SCOPED_TRACE(static_cast<int>(model));
        fake::Reset();
        QueueDevice(InquiryData("1.00", model), ParameterPage(), StatusPage());
        InitBlock block = PoisonedBlock();
        vInitializeScanner(&block);
        EXPECT_EQ(Value(block.dwResult), 1u);
        EXPECT_EQ(Value(block.wModelValue), model == 150 ? 18 : 255);
        EXPECT_EQ(ModelCode, model);
    }
}

TEST_F(InitializeTest, FirmwareVersionFromRevisionText)
{
    struct Row {
        const char *Revision;
        uint16_t Version;
    };
    const Row rows[] = {
        {"1.23", 0x0117}, /* major 1, minor 23 */
        {"2.1a", 0x020A}, /* a letter in the last place counts 0 */
        {"0.05", 0x0005},
        {"9.99", 0x0963},
        {"3.0 ", 0x0300}, /* a blank in the last place counts 0 */
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.Revision);
        fake::Reset();
        QueueDevice(InquiryData(row.Revision), ParameterPage(), StatusPage());
        InitBlock block = PoisonedBlock();
        vInitializeScanner(&block);
        EXPECT_EQ(Value(block.dwResult), 1u);
        EXPECT_EQ(Value(block.wFirmwareVersion), row.Version);
    }
}

TEST_F(InitializeTest, DeviceKindFromPageByte0AndInstalledOptions)
{
    struct Row {
        uint8_t PageByte0;
        uint8_t Options;
        uint16_t Kind;
    };
    const Row rows[] = {
        {0x20, 0x00, 4},        {0x30, 0x00, 2},        {0x00, 0x00, 1},
        {0x10, 0x00, 1},        {0xCF, 0x00, 1},        /* only bits 4-5 name the kind */
        {0xB0, 0x05, 0x62},     {0x20, 0x02, 4 + 0x80}, {0x00, 0x07, 1 + 0x40 + 0x80 + 0x20},
        {0x30, 0xF8, 2},        /* bits above 2 of the options are not options */
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::Message() << "byte 0 " << int(row.PageByte0) << " options " << int(row.Options));
        fake::Reset();
        std::vector<uint8_t> page = ParameterPage();
        page[0] = row.PageByte0;
        QueueDevice(InquiryData(), page, StatusPage(0, 0, 0, row.Options));
        InitBlock block = PoisonedBlock();
        vInitializeScanner(&block);
        EXPECT_EQ(Value(block.dwResult), 1u);
        EXPECT_EQ(Value(block.wDeviceKind), row.Kind);
    }
}

TEST_F(InitializeTest, FailedInquiryWritesNothingButTheResult)
{
    struct Row {
        FakeReply Reply;
        uint32_t Result;
    };
    FakeReply adapterFailure;
    adapterFailure.Status = BUSLNK_FAILURE;
    const Row rows[] = {
        {fake::CheckCondition(0x25, 0x00), 0x0000FD41}, /* -703, passed on from the command */
        {adapterFailure, 0x0000FC14},                   /* -1004 */
    };
    for (const Row &row : rows) {
        fake::Reset();
        ModelCode = 77;
        fake::Queue(row.Reply);
        InitBlock before = PoisonedBlock();
        InitBlock block = before;
        vInitializeScanner(&block);
        EXPECT_EQ(Value(block.dwResult), row.Result);
        ExpectOnlyResultWritten(before, block);
        EXPECT_EQ(SentCdbs(), std::vector<std::string>{kInquiryCdb});
        EXPECT_EQ(ModelCode, 77);
    }
}

TEST_F(InitializeTest, RejectsDevicesThatAreNotScsi2Scanners)
{
    struct Row {
        int Byte;
        uint8_t Value;
    };
    const Row rows[] = {
        {0, 0x03}, /* a processor device */
        {0, 0x26}, /* a scanner with qualifier bits set */
        {2, 0x01}, /* SCSI-1 */
        {2, 0x03}, /* SCSI-3 */
        {3, 0x12}, /* response format 2 with a flag bit */
        {3, 0x01},
        {3, 0x00},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::Message() << "byte " << row.Byte << " = " << int(row.Value));
        fake::Reset();
        ModelCode = 77;
        LensCount = 1;
        std::vector<uint8_t> inquiry = InquiryData("1.23", 150);
        inquiry[row.Byte] = row.Value;
        fake::Queue(BUSLNK_GOOD, inquiry);

        InitBlock before = PoisonedBlock();
        InitBlock block = before;
        vInitializeScanner(&block);

        /* -1006 is the export's own: the high half is 0xFFFF. */
        EXPECT_EQ(Value(block.dwResult), 0xFFFFFC12u);
        ExpectOnlyResultWritten(before, block);
        EXPECT_EQ(SentCdbs(), std::vector<std::string>{kInquiryCdb});
        EXPECT_EQ(ModelCode, 77);
    }
}

TEST_F(InitializeTest, FailedPageReadLeavesOnlyModelAndFirmware)
{
    fake::Queue(BUSLNK_GOOD, InquiryData("2.1a", 150));
    fake::Queue(fake::CheckCondition(0x3A, 0x00)); /* -704 */

    InitBlock before = PoisonedBlock();
    InitBlock block = before;
    vInitializeScanner(&block);

    EXPECT_EQ(Value(block.dwResult), 0x0000FD40u);
    EXPECT_EQ(Value(block.wModelValue), 18);
    EXPECT_EQ(Value(block.wFirmwareVersion), 0x020A);
    InitBlock expected = before;
    expected.dwResult = block.dwResult;
    expected.wModelValue = block.wModelValue;
    expected.wFirmwareVersion = block.wFirmwareVersion;
    EXPECT_EQ(fake::Hex(BytesOf(expected)), fake::Hex(BytesOf(block)));
    EXPECT_EQ(SentCdbs(), (std::vector<std::string>{kInquiryCdb, ParameterReadCdb(0, 0)}));
    EXPECT_EQ(ModelCode, 150);
    EXPECT_EQ(LensCount, 1); /* the lens count comes from the page that failed */
}

TEST_F(InitializeTest, FailedStatusReadLeavesAllButTheOptionBits)
{
    std::vector<uint8_t> page = ParameterPage();
    page[0] = 0x20;
    page[27] = 3;
    fake::Queue(BUSLNK_GOOD, InquiryData());
    fake::Queue(BUSLNK_GOOD, page);
    fake::Queue(BUSLNK_ADAPTER_FAILURE); /* -501 */

    InitBlock block = PoisonedBlock();
    vInitializeScanner(&block);

    EXPECT_EQ(Value(block.dwResult), 0x0000FE0Bu);
    EXPECT_EQ(Value(block.wDeviceKind), 4); /* no option bits */
    EXPECT_EQ(Value(block.wModelValue), 255);
    EXPECT_EQ(Value(block.wFirmwareVersion), 0x0117);
    EXPECT_EQ(Value(block.wInfo1), 256);
    EXPECT_EQ(Value(block.wInfo4), 150);
    EXPECT_EQ(Value(block.wInfo5), 13);
    EXPECT_EQ(LensCount, 3);
    EXPECT_EQ(SentCdbs(), (std::vector<std::string>{kInquiryCdb, ParameterReadCdb(0, 0), kLampReadCdb}));
}

TEST_F(InitializeTest, ReinitializingKeepsTheLensSelectionAndReadsWithIt)
{
    std::vector<uint8_t> page = ParameterPage();
    page[27] = 2;
    QueueDevice(InquiryData("1.00", 168), page, StatusPage());
    InitBlock block = PoisonedBlock();
    vInitializeScanner(&block);
    ASSERT_EQ(Value(block.dwResult), 1u);

    LensBlock lens = {};
    lens.wLens = 1;
    vScannerMutiLens(&lens);
    ASSERT_EQ(Value(lens.dwResult), 1u);

    fake::Reset();
    page[27] = 3;
    QueueDevice(InquiryData("1.00", 150), page, StatusPage());
    vInitializeScanner(&block);

    EXPECT_EQ(Value(block.dwResult), 1u);
    EXPECT_EQ(ModelCode, 150);
    EXPECT_EQ(LensCount, 3);
    EXPECT_EQ(SelectedLens, 1);
    EXPECT_EQ(SentCdbs(), (std::vector<std::string>{kInquiryCdb, ParameterReadCdb(1, 0), kLampReadCdb}));
    EXPECT_EQ(fake::AttachCalls(), 1); /* each call attaches afresh */
}

} // namespace
