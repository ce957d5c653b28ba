/*
 * Failure at every site. For each export, and for a whole scan of each kind
 * (grey, colour in whole pixels, colour in tagged segments, bits made by the
 * driver, scaled up, scaled down, calibrated), the n-th allocation is made to
 * fail for n = 1, 2, ... until the scan runs without a failure, and the n-th
 * command is made to end with a failing adapter status, a busy scanner or a
 * check condition of every class of sense. Each outcome must be the code of
 * the result table, and nothing may be left allocated once the scan is
 * aborted.
 */
#include "driver_fixture.h"
#include "entry/settings.h"
#include "fake_scanner.h"
#include "platform/platform.h"
#include "scan/calibration.h"
#include "scan/scan_state.h"
#include "scsi/commands.h"

#include <functional>
#include <string>

namespace {

/* A sense class: ASC/ASCQ and the code the driver must report for it. */
struct SenseClass {
    uint8_t Asc, Ascq;
    int16_t Code;
};

const SenseClass kSenseClasses[] = {
    {0x4A, 0x00, -600}, {0x2C, 0x00, -601}, {0x4B, 0x00, -602}, {0x00, 0x05, -305}, {0x3D, 0x00, -1},
    {0x2C, 0x02, -700}, {0x20, 0x00, -100}, {0x24, 0x00, -100}, {0x26, 0x00, -701}, {0x49, 0x00, -702},
    {0x60, 0x00, -204}, {0x25, 0x00, -703}, {0x53, 0x00, -206}, {0x3A, 0x00, -704}, {0x1A, 0x00, -705},
    {0x26, 0x02, -706}, {0x03, 0x00, -707}, {0x2C, 0x01, -708}, {0x80, 0x00, -709}, {0x54, 0x00, -710},
    {0x40, 0x01, -200}, {0x40, 0x02, -201}, {0x40, 0x04, -202}, {0x40, 0x08, -203}, {0x40, 0x10, -208},
    {0x40, 0x20, -205}, {0x40, 0x43, -200}, {0x40, 0x40, -3},   {0x00, 0x00, 1},    {0x04, 0x00, 1},
};

/* How the n-th command ends. */
struct Failure {
    uint32_t Status;
    SenseClass Sense;
    uint32_t SenseStatus; /* the REQUEST SENSE's own status */
    std::string Name() const
    {
        char text[64];
        std::snprintf(text, sizeof text, "status %u sense %02X/%02X sense status %u", Status, Sense.Asc,
                      Sense.Ascq, SenseStatus);
        return text;
    }
    /* The code the failing command itself comes back with. */
    int16_t Code() const
    {
        switch (static_cast<uint16_t>(Status)) {
        case BUSLNK_FAILURE:
            return SD_ERR_ADAPTER;
        case BUSLNK_ADAPTER_FAILURE:
            return SD_ERR_ADAPTER_FAILURE;
        case BUSLNK_CHECK_CONDITION:
            return SenseStatus == BUSLNK_GOOD ? Sense.Code : int16_t{SD_ERR_COMMAND_REJECTED};
        default:
            return static_cast<int16_t>(Status);
        }
    }
};

std::vector<Failure> AdapterFailures()
{
    /* Status 2 and 24; an unknown status, passed through; the high half of
     * the status word is not looked at. */
    return {{BUSLNK_FAILURE, {}, 0},
            {BUSLNK_ADAPTER_FAILURE, {}, 0},
            {0x00010000u | BUSLNK_FAILURE, {}, 0},
            {7, {}, 0}};
}

std::vector<Failure> SenseFailures()
{
    std::vector<Failure> failures;
    for (const SenseClass &sense : kSenseClasses)
        failures.push_back({BUSLNK_CHECK_CONDITION, sense, BUSLNK_GOOD});
    /* REQUEST SENSE itself failing. */
    failures.push_back({BUSLNK_CHECK_CONDITION, {0x4A, 0x00, -600}, BUSLNK_FAILURE});
    return failures;
}

int16_t Low16(uint32_t dwResult)
{
    return static_cast<int16_t>(dwResult);
}

/* What one scan did: its start, the failing results of its image calls,
 * its abort, and the lines it promised and delivered. */
struct ScanRun {
    int16_t Start = 0;
    std::vector<int16_t> ImageErrors;
    int16_t Abort = 0;
    uint32_t Promised = 0, Delivered = 0;
    bool EndedEarly = false;
    size_t StartCommands = 0, ImageCommands = 0;
};

struct ScanKind {
    const char *Name;
    std::function<void(FakeScanner &, ScanAttributeBlock &)> Set;
    int AllocationSites; /* allocations a scan of this kind makes */
};

const ScanKind kScanKinds[] = {
    {"grey", [](FakeScanner &, ScanAttributeBlock &) {}, 2},
    {"colour whole pixels", [](FakeScanner &, ScanAttributeBlock &b) { b.wImageType = SD_IMAGE_COLOR; }, 2},
    {"colour tagged",
     [](FakeScanner &s, ScanAttributeBlock &b) {
         b.wImageType = SD_IMAGE_COLOR;
         s.Page[0] = 0x83;
         s.Page[2] = 8;
         s.SegmentGap = 3;
     },
     3},
    {"bits by the driver",
     [](FakeScanner &s, ScanAttributeBlock &b) {
         b.wBitsPerPixel = 1;
         s.Page[13] = 0x08;
     },
     3},
    {"scaled up", [](FakeScanner &, ScanAttributeBlock &b) { b.wResolution = 1200; }, 4},
    {"scaled down", [](FakeScanner &, ScanAttributeBlock &b) { b.wResolution = 100; }, 4},
    {"calibrated", [](FakeScanner &s, ScanAttributeBlock &) { s.Lamp[0] = 0x01; }, 5},
};

class FailureLoops : public DriverTest {
protected:
    void SetUp() override
    {
        DriverTest::SetUp();
        Reload();
    }
    void TearDown() override
    {
        ParamBlock abort = {};
        vScannerAbortScan(&abort);
        Reload();
        DriverTest::TearDown();
    }
    /* The process-wide state the scans below change, as at load. */
    static void Reload()
    {
        Settings = {};
        ScanState = {};
        CalibrationMarker = -2;
        LampTimerMinutes = 15;
        LampTimerFlag = 0;
    }
    /* A half-inch glass keeps calibration short; a 0.4 x 0.2 inch grey scan
     * at 250 dpi (100 pixels, 50 lines) with the calibration still valid. */
    void Configure(const ScanKind &kind)
    {
        scanner = FakeScanner();
        scanner.SetBig16(7, 300);
        scanner.Lamp[0] = 0x21;
        block = {};
        block.wImageType = 1;
        block.wScanSource = 1;
        block.wBitsPerPixel = 8;
        block.wHalftoneMode = 1;
        block.wResolution = 250;
        block.wRight = 399;
        block.wBottom = 199;
        block.wFlags = SD_FLAG_DEFAULT;
        kind.Set(scanner, block);
        fake::Reset();
        scanner.Install();
    }
    uint32_t LineBytes() const
    {
        if (block.wBitsPerPixel == 1)
            return block.wWidth;
        return uint32_t{block.wWidth} * (block.wImageType == SD_IMAGE_COLOR ? 3 : 1) *
               (block.wBitsPerPixel > 8 ? 2 : 1);
    }
    /* Start, read in calls of 7 lines into buffers exactly that large, abort.
     * After a failing image call the scan is aborted, unless `retry`: then
     * the next call goes on (as an application may). */
    ScanRun RunScan(bool retry)
    {
        ScanRun run;
        ScanAttributeBlock start = block;
        vScannerStartScan(&start);
        run.Start = Low16(start.dwResult);
        run.StartCommands = fake::CommandsWithoutSense().size();
        if (run.Start == SD_OK) {
            run.Promised = start.wLength;
            block.wWidth = start.wWidth;
            ImageDataBlock read = {};
            for (int call = 0; call < 40 && run.Delivered < run.Promised; ++call) {
                std::vector<uint8_t> buffer(size_t{7} * LineBytes());
                read.lpImageBuffer = buffer.data();
                read.dwRequestLines = 7;
                const bool early = ScanState.EndOfData != 0;
                vScannerGetImage(&read);
                const int16_t code = Low16(read.dwResult);
                if (code != SD_OK) {
                    run.ImageErrors.push_back(code);
                    if (!retry)
                        break;
                    continue;
                }
                run.EndedEarly = run.EndedEarly || early || ScanState.EndOfData;
                if (!run.EndedEarly)
                    run.Delivered += read.dwReturnLines;
                if (read.dwRemainLines == 0)
                    break;
            }
        }
        run.ImageCommands = fake::CommandsWithoutSense().size() - run.StartCommands;
        ParamBlock abort = {};
        vScannerAbortScan(&abort);
        run.Abort = Low16(abort.dwResult);
        return run;
    }
    /* The n-th command (from 1; REQUEST SENSE not counted) ends as told.
     * A busy scanner does not take the command at all: it never sees it. */
    void FailCommand(size_t n, const Failure &failure)
    {
        auto count = std::make_shared<size_t>(0);
        fake::SetResponder([this, count, n, failure](const RecordedCommand &c) {
            if (c.Opcode() == 0x03 || ++*count != n)
                return scanner.Answer(c);
            FakeReply reply;
            if (static_cast<uint16_t>(failure.Status) != BUSLNK_BUSY)
                reply = scanner.Answer(c);
            reply.Status = failure.Status;
            if (static_cast<uint16_t>(failure.Status) == BUSLNK_CHECK_CONDITION) {
                reply.Sense = fake::Sense(failure.Sense.Asc, failure.Sense.Ascq);
                reply.SenseStatus = failure.SenseStatus;
            }
            return reply;
        });
    }
    /* Fails every command of a good run of `kind` in turn, as each failure
     * says, and checks each outcome against the result table. */
    void CommandLoop(const ScanKind &kind, const std::vector<Failure> &failures);

    FakeScanner scanner;
    ScanAttributeBlock block;
};

/* Commands whose failure the start does not stop at: the READ of 0 that ends
 * any earlier image (result not examined), the lamp control byte of the
 * calibration (the readiness test after it decides) and the shading tables
 * (the lamp page READ after them decides). */
bool FailureIgnoredByStart(const RecordedCommand &c, size_t n)
{
    const bool imageRead = c.Opcode() == 0x28 && c.Cdb[2] == 0x00;
    const bool lampControl = c.Opcode() == 0x2A && c.Cdb[2] == 0x81 && c.Length == 1;
    const bool shadingTable = c.Opcode() == 0x2A && c.Cdb[2] == 0x01;
    return (n == 1 && imageRead && c.Length == 0) || lampControl || shadingTable;
}

void FailureLoops::CommandLoop(const ScanKind &kind, const std::vector<Failure> &failures)
{
    Configure(kind);
    const ScanRun good = RunScan(false);
    ASSERT_EQ(good.Start, SD_OK) << kind.Name;
    ASSERT_TRUE(good.ImageErrors.empty()) << kind.Name;
    ASSERT_EQ(good.Delivered, good.Promised) << kind.Name;
    ASSERT_GT(good.Promised, 0u) << kind.Name;
    const std::vector<RecordedCommand> commands = fake::CommandsWithoutSense();
    const int live = LiveAllocations();

    for (const Failure &failure : failures) {
        const int16_t code = failure.Code();
        for (size_t n = 1; n <= commands.size(); ++n) {
            const RecordedCommand &c = commands[n - 1];
            const std::string where = std::string(kind.Name) + ", command " + std::to_string(n) + " (" +
                                      fake::Hex(c.Cdb) + ") ends with " + failure.Name();
            Configure(kind);
            FailCommand(n, failure);
            const ScanRun run = RunScan(false);
            EXPECT_EQ(LiveAllocations(), live) << where;
            EXPECT_EQ(ScanState.ScanActive, 0u) << where;

            const bool inStart = n <= good.StartCommands;
            const bool inAbort = n == commands.size();
            const bool imageData = c.Opcode() == 0x28 && c.Cdb[2] == 0x00 && c.Length > 0;
            if (code == SD_OK || (inStart && FailureIgnoredByStart(c, n))) {
                EXPECT_EQ(run.Start, SD_OK) << where;
                EXPECT_TRUE(run.ImageErrors.empty()) << where;
                EXPECT_EQ(run.Delivered, run.Promised) << where;
                EXPECT_EQ(run.Abort, SD_OK) << where;
            } else if (inStart) {
                EXPECT_EQ(run.Start, code) << where;
                EXPECT_EQ(run.StartCommands, n) << where << ": nothing is sent after the failure";
                EXPECT_EQ(run.Abort, SD_OK) << where;
            } else if (inAbort) {
                EXPECT_EQ(run.Start, SD_OK) << where;
                EXPECT_TRUE(run.ImageErrors.empty()) << where;
                EXPECT_EQ(run.Abort, code) << where;
            } else if (imageData && code == SD_ERR_END_OF_DATA) {
                /* The scanner ends the image: not an error. */
                EXPECT_EQ(run.Start, SD_OK) << where;
                EXPECT_TRUE(run.ImageErrors.empty()) << where;
                EXPECT_TRUE(run.EndedEarly) << where;
                EXPECT_LT(run.Delivered, run.Promised) << where;
            } else {
                EXPECT_EQ(run.Start, SD_OK) << where;
                ASSERT_EQ(run.ImageErrors.size(), 1u) << where;
                EXPECT_EQ(run.ImageErrors[0], code) << where;
                EXPECT_EQ(run.Abort, SD_OK) << where;
            }
        }
    }
}

TEST_F(FailureLoops, EveryAllocationOfEveryScanKindFailsWithNoMemoryAndLeaksNothing)
{
    for (const ScanKind &kind : kScanKinds) {
        for (bool persistent : {false, true}) {
            const int live = LiveAllocations();
            int sites = 0;
            for (int n = 1;; ++n) {
                const std::string where = std::string(kind.Name) + (persistent ? ", from" : ", only") +
                                          " allocation " + std::to_string(n);
                Configure(kind);
                FailAllocationAfter(n - 1, persistent);
                /* Transient: an image call that could not set its buffer up
                 * is repeated, and the repeat must succeed. */
                const ScanRun run = RunScan(!persistent);
                const int injected = StopFailingAllocations();
                EXPECT_EQ(LiveAllocations(), live) << where;
                if (injected == 0) {
                    EXPECT_EQ(run.Start, SD_OK) << where;
                    EXPECT_TRUE(run.ImageErrors.empty()) << where;
                    EXPECT_EQ(run.Delivered, run.Promised) << where;
                    break;
                }
                ++sites;
                ASSERT_LE(n, 20) << where << ": the loop does not end";
                if (run.Start != SD_OK) {
                    EXPECT_EQ(run.Start, SD_ERR_NO_MEMORY) << where;
                    EXPECT_EQ(run.Promised, 0u) << where;
                } else {
                    ASSERT_FALSE(run.ImageErrors.empty()) << where;
                    EXPECT_EQ(run.ImageErrors[0], SD_ERR_NO_MEMORY) << where;
                    if (!persistent) {
                        EXPECT_EQ(run.ImageErrors.size(), 1u) << where << ": the next call sets the buffer up";
                        EXPECT_EQ(run.Delivered, run.Promised) << where;
                    }
                }
                EXPECT_EQ(run.Abort, SD_OK) << where;
            }
            EXPECT_EQ(sites, kind.AllocationSites) << kind.Name << (persistent ? " persistent" : " transient");
        }
    }
}

TEST_F(FailureLoops, EveryCommandOfEveryScanKindFailingOnTheAdapter)
{
    for (const ScanKind &kind : kScanKinds)
        CommandLoop(kind, AdapterFailures());
}

TEST_F(FailureLoops, EveryCommandOfTheCalibratedScanWithEveryClassOfSense)
{
    CommandLoop(kScanKinds[6], SenseFailures());
}

TEST_F(FailureLoops, EveryCommandOfTheTaggedColourScanWithEveryClassOfSense)
{
    CommandLoop(kScanKinds[2], SenseFailures());
}

TEST_F(FailureLoops, ABusyScannerAtAnyCommandIsWaitedOut)
{
    for (const ScanKind &kind : kScanKinds) {
        Configure(kind);
        const ScanRun good = RunScan(false);
        const size_t total = fake::CommandsWithoutSense().size();
        for (size_t n = 1; n <= total; ++n) {
            Configure(kind);
            Sleeps.clear();
            FailCommand(n, {BUSLNK_BUSY, {}, 0});
            const ScanRun run = RunScan(false);
            const std::string where = std::string(kind.Name) + ", command " + std::to_string(n);
            EXPECT_EQ(run.Start, SD_OK) << where;
            EXPECT_TRUE(run.ImageErrors.empty()) << where;
            EXPECT_EQ(run.Delivered, good.Delivered) << where;
            EXPECT_EQ(run.Abort, SD_OK) << where;
            EXPECT_EQ(Sleeps, std::vector<uint32_t>{2000}) << where;
            EXPECT_EQ(fake::CommandsWithoutSense().size(), total + 1) << where << ": the same command once more";
        }
    }
}

/* --- The other exports ------------------------------------------------ */

struct ExportCall {
    const char *Name;
    std::function<void(FakeScanner &)> Prepare;
    std::function<int32_t()> Call; /* the low 16 bits of dwResult, or vPaperReady's answer */
    /* Commands whose failure the export does not report. */
    std::function<bool(const RecordedCommand &)> Ignored;
};

bool Never(const RecordedCommand &)
{
    return false;
}

const ExportCall kExports[] = {
    {"vInitializeScanner", [](FakeScanner &) {},
     [] {
         InitBlock b = {};
         vInitializeScanner(&b);
         return int32_t{Low16(b.dwResult)};
     },
     Never},
    {"vDefaultAttribute", [](FakeScanner &) {},
     [] {
         ScanAttributeBlock b = {};
         vDefaultAttribute(&b);
         return int32_t{Low16(b.dwResult)};
     },
     Never},
    {"vScannerCapability", [](FakeScanner &s) { s.Page[18] = 0x10; },
     [] {
         int32_t contrast[256], brightness[256];
         uint32_t adjust[256];
         CapabilityBlock b = {};
         b.lpContrastList = contrast;
         b.lpBrightnessList = brightness;
         b.lpAdjustList = adjust;
         b.wFeatures = SD_CAPS_EXTENDED;
         b.wDeviceSetting = 0x0045;
         vScannerCapability(&b);
         return int32_t{Low16(b.dwResult)};
     },
     /* The device setting SEND goes unreported. */
     [](const RecordedCommand &c) { return c.Opcode() == 0x2A; }},
    {"vGetLampStatus", [](FakeScanner &) {},
     [] {
         LampBlock b = {};
         vGetLampStatus(&b);
         return int32_t{Low16(b.dwResult)};
     },
     Never},
    {"vSetLampStatus", [](FakeScanner &) {},
     [] {
         LampBlock b = {};
         b.wLampState = SD_LAMP_1;
         b.dwLampTimer = 600;
         vSetLampStatus(&b);
         return int32_t{Low16(b.dwResult)};
     },
     Never},
    {"vScannerAbortScan", [](FakeScanner &) {},
     [] {
         ParamBlock b = {};
         vScannerAbortScan(&b);
         return int32_t{Low16(b.dwResult)};
     },
     Never},
};

TEST_F(FailureLoops, EveryCommandOfEveryOtherExport)
{
    std::vector<Failure> failures = AdapterFailures();
    for (const Failure &f : SenseFailures())
        failures.push_back(f);
    for (const ExportCall &call : kExports) {
        scanner = FakeScanner();
        call.Prepare(scanner);
        fake::Reset();
        scanner.Install();
        ASSERT_EQ(call.Call(), SD_OK) << call.Name;
        const std::vector<RecordedCommand> commands = fake::CommandsWithoutSense();
        ASSERT_FALSE(commands.empty()) << call.Name;
        for (const Failure &failure : failures) {
            for (size_t n = 1; n <= commands.size(); ++n) {
                scanner = FakeScanner();
                call.Prepare(scanner);
                fake::Reset();
                FailCommand(n, failure);
                const int32_t result = call.Call();
                const std::string where =
                    std::string(call.Name) + ", command " + std::to_string(n) + " ends with " + failure.Name();
                const int16_t expected = call.Ignored(commands[n - 1]) ? int16_t{SD_OK} : failure.Code();
                EXPECT_EQ(result, expected) << where;
                EXPECT_EQ(LiveAllocations(), 0) << where;
            }
        }
    }
}

TEST_F(FailureLoops, SensorPollAnswersForEveryFailure)
{
    /* The poll goes straight to the adapter: busy is 0, anything else -1,
     * and no sense is asked for. A failing send-back of an event is not
     * reported. */
    scanner.Lamp[2] = 0x40;
    scanner.Lamp[7] = 3;
    for (const Failure &failure : SenseFailures()) {
        fake::Reset();
        FailCommand(1, failure);
        EXPECT_EQ(vPaperReady(), -1) << failure.Name();
        EXPECT_EQ(fake::Commands().size(), 1u) << failure.Name();
    }
    for (uint32_t status : {2u, 24u, 7u}) {
        fake::Reset();
        FailCommand(1, {status, {}, 0});
        EXPECT_EQ(vPaperReady(), -1) << status;
    }
    fake::Reset();
    FailCommand(1, {BUSLNK_BUSY, {}, 0});
    EXPECT_EQ(vPaperReady(), 0);
    EXPECT_TRUE(Sleeps.empty()) << "no waiting";
    fake::Reset();
    FailCommand(2, {BUSLNK_FAILURE, {}, 0});
    EXPECT_EQ(vPaperReady() >> 9, 3) << "the event is reported though it could not be cleared";
}

TEST_F(FailureLoops, ExportsWithoutScanAllocateNothing)
{
    /* With every allocation failing from the first, the exports that
     * allocate nothing still succeed, so the loop ends at n = 1. */
    for (const ExportCall &call : kExports) {
        scanner = FakeScanner();
        call.Prepare(scanner);
        fake::Reset();
        scanner.Install();
        FailAllocationAfter(0, true);
        EXPECT_EQ(call.Call(), SD_OK) << call.Name;
        EXPECT_EQ(StopFailingAllocations(), 0) << call.Name;
        EXPECT_EQ(LiveAllocations(), 0) << call.Name;
    }
}

} // namespace
