/*
 * The SCSI generic adapter against a real scanner, loaded as a front end
 * loads it: the adapter library by path and globally, then the driver, which
 * binds to it. Skipped, with the reason, where no SCSI scanner can be used.
 */
#include "buslnk32.h"
#include "scandrv.h"
#include "sg_list.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <string>
#include <vector>

namespace {

class RealScanner : public ::testing::Test {
protected:
    void SetUp() override
    {
        void *adapter = dlopen(SG_ADAPTER_LIBRARY, RTLD_NOW | RTLD_GLOBAL);
        ASSERT_NE(adapter, nullptr) << dlerror();
        auto list = reinterpret_cast<decltype(&SgListDevices)>(dlsym(adapter, "SgListDevices"));
        LastError = reinterpret_cast<decltype(&SgLastError)>(dlsym(adapter, "SgLastError"));
        Attach = reinterpret_cast<decltype(&BusLinkAttach)>(dlsym(adapter, "BusLinkAttach"));
        Execute = reinterpret_cast<decltype(&BusLinkExecute)>(dlsym(adapter, "BusLinkExecute"));
        ASSERT_TRUE(list && LastError && Attach && Execute) << "adapter exports missing";
        int count = list(FirstUsable, &Scanner);
        if (count < 0)
            GTEST_SKIP() << "no SCSI scanner: " << LastError();
        if (count == 0)
            GTEST_SKIP() << "no SCSI scanner: no SCSI generic device of peripheral type 6 is present";
        if (Scanner.Node[0] == '\0')
            GTEST_SKIP() << "a SCSI scanner is present but cannot be used: " << Unusable;
    }
    void TearDown() override
    {
        /* The driver stays loaded: its load hook ran, and the process ends soon. */
        AttachRecord nowhere = {7, 0xFF, 0xFFFF, 1};
        if (Attach != nullptr)
            Attach(&nowhere);
    }
    static void FirstUsable(const SgDeviceInfo *device, void *context)
    {
        SgDeviceInfo *chosen = static_cast<SgDeviceInfo *>(context);
        if (chosen->Node[0] == '\0' && device->Note[0] == '\0')
            *chosen = *device;
        else if (chosen->Node[0] == '\0')
            Unusable = std::string(device->Node) + ": " + device->Note;
    }
    uint32_t Run(std::vector<uint8_t> cdb, uint16_t timeout, uint8_t *in, uint32_t length)
    {
        CommandRecord command = {timeout, static_cast<uint16_t>(cdb.size()), cdb.data()};
        TransferRecord dataIn = {length, in}, none = {0, nullptr};
        return Execute(&command, &dataIn, &none);
    }

    static inline std::string Unusable;
    decltype(&SgLastError) LastError = nullptr;
    decltype(&BusLinkAttach) Attach = nullptr;
    decltype(&BusLinkExecute) Execute = nullptr;
    SgDeviceInfo Scanner{};
};

TEST_F(RealScanner, AnswersInquiryThroughTheAdapter)
{
    AttachRecord record = {7, Scanner.AttachParam2, Scanner.AttachParam1, 1};
    ASSERT_EQ(Attach(&record), BUSLNK_GOOD) << LastError();
    uint8_t inquiry[37] = {};
    ASSERT_EQ(Run({0x12, 0, 0, 0, 37, 0}, 1, inquiry, 37), BUSLNK_GOOD) << LastError();
    EXPECT_EQ(inquiry[0] & 0x1F, 6) << "peripheral type";
    EXPECT_EQ(std::string(reinterpret_cast<char *>(inquiry + 8), 8).find(Scanner.Vendor), 0u)
        << "INQUIRY vendor differs from what sysfs reported";
    /* TEST UNIT READY either passes or leaves sense that REQUEST SENSE gets. */
    uint32_t status = Run({0, 0, 0, 0, 0, 0}, 10, nullptr, 0);
    ASSERT_TRUE(status == BUSLNK_GOOD || status == BUSLNK_CHECK_CONDITION || status == BUSLNK_BUSY)
        << status << ": " << LastError();
    uint8_t sense[14] = {};
    if (status == BUSLNK_CHECK_CONDITION) {
        EXPECT_EQ(Run({0x03, 0, 0, 0, 14, 0}, 1, sense, 14), BUSLNK_GOOD) << LastError();
        EXPECT_EQ(sense[0] & 0x7E, 0x70) << "sense response code";
    }
}

TEST_F(RealScanner, DriverBindsToThisAdapterAndIdentifiesTheScanner)
{
    void *driver = dlopen(SCANDRV_LIBRARY, RTLD_NOW | RTLD_GLOBAL);
    ASSERT_NE(driver, nullptr) << dlerror();
    auto initialize = reinterpret_cast<decltype(&vInitializeScanner)>(dlsym(driver, "vInitializeScanner"));
    ASSERT_NE(initialize, nullptr);
    InitBlock block{};
    block.wAttachParam1 = Scanner.AttachParam1;
    block.wAttachParam2 = Scanner.AttachParam2;
    initialize(&block);
    int16_t result = static_cast<int16_t>(block.dwResult & 0xFFFF);
    /* The driver's answer for a SCSI scanner it does not drive: the adapter's part (INQUIRY delivered) worked. */
    ASSERT_TRUE(result == SD_OK || result == SD_ERR_NOT_A_SCANNER) << "result " << result << ": " << LastError();
    if (result == SD_ERR_NOT_A_SCANNER)
        GTEST_SKIP() << Scanner.Vendor << " " << Scanner.Model << " is not a scanner this driver supports";
    EXPECT_NE(block.wFirmwareVersion, 0);
}

} // namespace
