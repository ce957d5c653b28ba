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

namespace {

struct Loaded {
    void *Adapter = nullptr;
    void *Driver = nullptr;
    decltype(&SgListDevices) List = nullptr;
    decltype(&SgLastError) LastError = nullptr;
    decltype(&BusLinkAttach) Attach = nullptr;
    decltype(&BusLinkExecute) Execute = nullptr;
    decltype(&vInitializeScanner) Initialize = nullptr;
};

template <typename Function> Function Symbol(void *library, const char *name)
{
    return reinterpret_cast<Function>(dlsym(library, name));
}

class RealScanner : public ::testing::Test {
protected:
    void SetUp() override
    {
        Lib.Adapter = dlopen(SG_ADAPTER_LIBRARY, RTLD_NOW | RTLD_GLOBAL);
        ASSERT_NE(Lib.Adapter, nullptr) << dlerror();
        Lib.List = Symbol<decltype(Lib.List)>(Lib.Adapter, "SgListDevices");
        Lib.LastError = Symbol<decltype(Lib.LastError)>(Lib.Adapter, "SgLastError");
        Lib.Attach = Symbol<decltype(Lib.Attach)>(Lib.Adapter, "BusLinkAttach");
        Lib.Execute = Symbol<decltype(Lib.Execute)>(Lib.Adapter, "BusLinkExecute");
        ASSERT_TRUE(Lib.List && Lib.LastError && Lib.Attach && Lib.Execute) << "adapter exports missing";

        int count = Lib.List(FirstUsable, &Scanner);
        if (count < 0)
            GTEST_SKIP() << "no SCSI scanner: " << Lib.LastError();
        if (count == 0)
            GTEST_SKIP() << "no SCSI scanner: no SCSI generic device of peripheral type 6 is present";
        if (Scanner.Node[0] == '\0')
            GTEST_SKIP() << "a SCSI scanner is present but cannot be used: " << Unusable;
    }

    void TearDown() override
    {
        /* The driver stays loaded: its load hook ran, and the process ends soon. */
        if (Lib.Attach != nullptr) {
            AttachRecord nowhere = {7, 0xFF, 0xFFFF, 1};
            Lib.Attach(&nowhere);
        }
    }

    static void FirstUsable(const SgDeviceInfo *device, void *context)
    {
        SgDeviceInfo *chosen = static_cast<SgDeviceInfo *>(context);
        if (chosen->Node[0] != '\0')
            return;
        if (device->Note[0] == '\0')
            *chosen = *device;
        else
            Unusable = std::string(device->Node) + ": " + device->Note;
    }

    static inline std::string Unusable;
    Loaded Lib;
    SgDeviceInfo Scanner{};
};

TEST_F(RealScanner, AnswersInquiryThroughTheAdapter)
{
    AttachRecord record = {7, Scanner.AttachParam2, Scanner.AttachParam1, 1};
    ASSERT_EQ(Lib.Attach(&record), BUSLNK_GOOD) << Lib.LastError();

    uint8_t cdb[6] = {0x12, 0, 0, 0, 37, 0};
    uint8_t inquiry[37] = {};
    CommandRecord command = {1, 6, cdb};
    TransferRecord in = {sizeof inquiry, inquiry};
    TransferRecord out = {0, nullptr};
    ASSERT_EQ(Lib.Execute(&command, &in, &out), BUSLNK_GOOD) << Lib.LastError();
    EXPECT_EQ(inquiry[0] & 0x1F, 6) << "peripheral type";
    EXPECT_EQ(std::string(reinterpret_cast<char *>(inquiry + 8), 8).find(Scanner.Vendor), 0u)
        << "INQUIRY vendor differs from what sysfs reported";

    /* TEST UNIT READY either passes or leaves sense that REQUEST SENSE gets. */
    uint8_t ready[6] = {0, 0, 0, 0, 0, 0};
    CommandRecord readyCommand = {10, 6, ready};
    TransferRecord none = {0, nullptr};
    uint32_t status = Lib.Execute(&readyCommand, &none, &none);
    ASSERT_TRUE(status == BUSLNK_GOOD || status == BUSLNK_CHECK_CONDITION || status == BUSLNK_BUSY)
        << status << ": " << Lib.LastError();
    if (status == BUSLNK_CHECK_CONDITION) {
        uint8_t senseCdb[6] = {0x03, 0, 0, 0, 14, 0};
        uint8_t sense[14] = {};
        CommandRecord senseCommand = {1, 6, senseCdb};
        TransferRecord senseIn = {sizeof sense, sense};
        EXPECT_EQ(Lib.Execute(&senseCommand, &senseIn, &none), BUSLNK_GOOD) << Lib.LastError();
        EXPECT_EQ(sense[0] & 0x7E, 0x70) << "sense response code";
    }
}

TEST_F(RealScanner, DriverBindsToThisAdapterAndIdentifiesTheScanner)
{
    Lib.Driver = dlopen(SCANDRV_LIBRARY, RTLD_NOW | RTLD_GLOBAL);
    ASSERT_NE(Lib.Driver, nullptr) << dlerror();
    Lib.Initialize = Symbol<decltype(Lib.Initialize)>(Lib.Driver, "vInitializeScanner");
    ASSERT_NE(Lib.Initialize, nullptr);

    InitBlock block{};
    block.wAttachParam1 = Scanner.AttachParam1;
    block.wAttachParam2 = Scanner.AttachParam2;
    Lib.Initialize(&block);
    int16_t result = static_cast<int16_t>(block.dwResult & 0xFFFF);
    /* -1006 is the driver's answer for a SCSI scanner it does not drive; the
     * adapter's part (INQUIRY delivered) worked either way. */
    ASSERT_TRUE(result == SD_OK || result == SD_ERR_NOT_A_SCANNER)
        << "result " << result << ": " << Lib.LastError();
    if (result == SD_ERR_NOT_A_SCANNER)
        GTEST_SKIP() << Scanner.Vendor << " " << Scanner.Model << " is not a scanner this driver supports";
    EXPECT_NE(block.wFirmwareVersion, 0);
}

} // namespace
