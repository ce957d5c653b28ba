/*
 * Failure at every site: for each export and each kind of scan, the n-th
 * allocation and the n-th command fail in turn. The outcome must be the
 * right code, nothing may leak, and a failure at an export's first command
 * writes nothing but dwResult.
 */
#include "driver_fixture.h"
#include "api/device_control.h"
#include "platform/platform.h"
#include "platform/vector_support.h"
#include "scan/scan_state.h"
#include "scsi/executor.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <string>

namespace {

struct SenseClass {
    uint8_t Asc, Ascq;
    int16_t Code; /* what the driver must report for it */
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
    /* What the failing command itself comes back with, as stored in dwResult. */
    uint32_t Code() const
    {
        switch (static_cast<uint16_t>(Status)) {
        case BUSLNK_BUSY:
            return SD_OK; /* waited out */
        case BUSLNK_FAILURE:
            return uint16_t(SD_ERR_ADAPTER);
        case BUSLNK_ADAPTER_FAILURE:
            return uint16_t(SD_ERR_ADAPTER_FAILURE);
        case BUSLNK_CHECK_CONDITION:
            return SenseStatus == BUSLNK_GOOD ? uint16_t(Sense.Code) : uint16_t(SD_ERR_COMMAND_REJECTED);
        default:
            return static_cast<uint16_t>(Status);
        }
    }
};

/* An unknown status passes through; the high half is not looked at. Busy
 * once is waited out, and the operation goes on as if nothing happened. */
const std::vector<Failure> kAdapterFailures = {{BUSLNK_FAILURE, {}, 0},
                                               {BUSLNK_ADAPTER_FAILURE, {}, 0},
                                               {0x00010000u | BUSLNK_FAILURE, {}, 0},
                                               {7, {}, 0},
                                               {BUSLNK_BUSY, {}, 0}};

/* Every sense pair the scanner reports, a component failure on each
 * qualifier bit and on none, no error, a pair the driver does not know, each
 * expected as the translation makes it (whose values the executor tests
 * check); and REQUEST SENSE itself failing or answering with a check
 * condition. */
std::vector<Failure> SenseFailures()
{
    const uint8_t pairs[][2] = {
        {0x4A, 0x00}, {0x2C, 0x00}, {0x4B, 0x00}, {0x00, 0x05}, {0x3D, 0x00}, {0x2C, 0x02}, {0x20, 0x00}, {0x24, 0x00},
        {0x26, 0x00}, {0x49, 0x00}, {0x60, 0x00}, {0x25, 0x00}, {0x53, 0x00}, {0x3A, 0x00}, {0x1A, 0x00}, {0x26, 0x02},
        {0x03, 0x00}, {0x2C, 0x01}, {0x80, 0x00}, {0x54, 0x00}, {0x40, 0x01}, {0x40, 0x02}, {0x40, 0x04}, {0x40, 0x08},
        {0x40, 0x10}, {0x40, 0x20}, {0x40, 0x00}, {0x00, 0x00}, {0x26, 0x01},
    };
    std::vector<Failure> failures;
    for (const auto &pair : pairs)
        failures.push_back({BUSLNK_CHECK_CONDITION, {pair[0], pair[1], TranslateSense(pair[0], pair[1])}, BUSLNK_GOOD});
    failures.push_back({BUSLNK_CHECK_CONDITION, {0x4A, 0x00, -600}, BUSLNK_FAILURE});
    failures.push_back({BUSLNK_CHECK_CONDITION, {0x4A, 0x00, -600}, BUSLNK_CHECK_CONDITION});
    return failures;
}
const std::vector<Failure> kSenseFailures = SenseFailures();

const uint32_t kOk = SD_OK;
const uint32_t kNoMemory = uint16_t(SD_ERR_NO_MEMORY);

struct ScanRun {
    uint32_t Start = 0, Abort = 0;
    std::vector<uint32_t> ImageErrors;
    uint32_t Promised = 0, Delivered = 0;
    bool EndedEarly = false;
    size_t StartCommands = 0;
};

struct ScanKind {
    const char *Name;
    std::function<void(FakeScanner &, ScanAttributeBlock &)> Set;
    int AllocationSites; /* allocations a scan of this kind makes */
    int SpareSites;      /* more it makes with vector routines (their tables), and can do without */
};

const ScanKind kScanKinds[] = {
    {"grey", [](FakeScanner &, ScanAttributeBlock &) {}, 2, 0},
    {"colour whole pixels", [](FakeScanner &, ScanAttributeBlock &b) { b.wImageType = SD_IMAGE_COLOR; }, 2, 0},
    {"colour tagged",
     [](FakeScanner &s, ScanAttributeBlock &b) {
         b.wImageType = SD_IMAGE_COLOR;
         s.Page[0] = 0x83;
         s.Page[2] = 8;
         s.SegmentGap = 3;
     },
     3, 0},
    {"bits by the driver",
     [](FakeScanner &s, ScanAttributeBlock &b) {
         b.wBitsPerPixel = 1;
         s.Page[13] = 0x08;
     },
     3, 0},
    {"scaled up", [](FakeScanner &, ScanAttributeBlock &b) { b.wResolution = 1200; }, 4, 1},
    {"scaled down", [](FakeScanner &, ScanAttributeBlock &b) { b.wResolution = 100; }, 4, 0},
    {"calibrated", [](FakeScanner &s, ScanAttributeBlock &) { s.Lamp[0] = 0x01; }, 5, 0},
};

class FailureLoops : public ScanTest {
protected:
    /* A half-inch glass keeps calibration short; a 0.4 x 0.2 inch scan. */
    void Configure(const ScanKind &kind)
    {
        ParamBlock abort = {};
        vScannerAbortScan(&abort);
        ResetDriverState();
        scanner = FakeScanner();
        scanner.SetBig16(7, 300);
        scanner.Lamp[0] = 0x21;
        Request();
        block.wRight = 399;
        kind.Set(scanner, block);
        fake::Reset();
        scanner.Install();
    }
    /* Start, read 7 lines a call, abort. After a failing image call the scan
     * is aborted, unless `retry` (as an application may). */
    ScanRun RunScan(bool retry)
    {
        ScanRun run;
        run.Start = Start();
        run.StartCommands = fake::CommandsWithoutSense().size();
        if (run.Start == kOk) {
            run.Promised = block.wLength;
            for (int call = 0; call < 40 && run.Delivered < run.Promised; ++call) {
                const bool early = ScanState.EndOfData != 0;
                ImageDataBlock read = Read(7);
                if (read.dwResult != kOk) {
                    run.ImageErrors.push_back(uint32_t{read.dwResult});
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
        ParamBlock abort = {};
        vScannerAbortScan(&abort);
        run.Abort = abort.dwResult;
        return run;
    }
    /* The n-th command (from 1; REQUEST SENSE not counted) ends as told. */
    void FailCommand(size_t n, const Failure &failure)
    {
        auto count = std::make_shared<size_t>(0);
        fake::SetResponder([this, count, n, failure](const RecordedCommand &c) {
            if (c.Opcode() == 0x03 || ++*count != n)
                return scanner.Answer(c);
            /* A busy scanner has not run the command: its answer comes with the retry. */
            if (static_cast<uint16_t>(failure.Status) == BUSLNK_BUSY)
                return FakeReply{BUSLNK_BUSY, {}, {}, BUSLNK_GOOD};
            FakeReply reply = scanner.Answer(c);
            reply.Status = failure.Status;
            if (static_cast<uint16_t>(failure.Status) == BUSLNK_CHECK_CONDITION) {
                reply.Sense = fake::Sense(failure.Sense.Asc, failure.Sense.Ascq);
                reply.SenseStatus = failure.SenseStatus;
            }
            return reply;
        });
    }
    void CommandLoop(const ScanKind &kind, const std::vector<Failure> &failures);
};

/* Failures the start goes on after: the READ of 0 that ends an earlier image,
 * the calibration's lamp control byte (the readiness test after it decides)
 * and the shading tables (the lamp page READ after them decides). */
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
    const size_t sleptBefore = Sleeps.size();
    const ScanRun good = RunScan(false);
    const size_t goodSleeps = Sleeps.size() - sleptBefore;
    ASSERT_EQ(good.Start, kOk) << kind.Name;
    ASSERT_TRUE(good.ImageErrors.empty()) << kind.Name;
    ASSERT_EQ(good.Delivered, good.Promised) << kind.Name;
    ASSERT_GT(good.Promised, 0u) << kind.Name;
    const std::vector<RecordedCommand> commands = fake::CommandsWithoutSense();
    const int live = LiveAllocations();

    for (const Failure &failure : failures) {
        const uint32_t code = failure.Code();
        for (size_t n = 1; n <= commands.size(); ++n) {
            const RecordedCommand &c = commands[n - 1];
            SCOPED_TRACE(std::string(kind.Name) + ", command " + std::to_string(n) + " (" + fake::Hex(c.Cdb) +
                         ") ends with " + failure.Name());
            Configure(kind);
            FailCommand(n, failure);
            const size_t slept = Sleeps.size();
            const ScanRun run = RunScan(false);
            EXPECT_EQ(LiveAllocations(), live);
            if (static_cast<uint16_t>(failure.Status) == BUSLNK_BUSY) {
                EXPECT_EQ(Sleeps.size() - slept, goodSleeps + 1) << "one busy wait";
            }
            EXPECT_EQ(ScanState.ScanActive, 0u);

            const bool inStart = n <= good.StartCommands;
            const bool imageData = c.Opcode() == 0x28 && c.Cdb[2] == 0x00 && c.Length > 0;
            if (code == kOk || (inStart && FailureIgnoredByStart(c, n))) {
                EXPECT_EQ(run.Start, kOk);
                EXPECT_TRUE(run.ImageErrors.empty());
                EXPECT_EQ(run.Delivered, run.Promised);
                EXPECT_EQ(run.Abort, kOk);
                const std::vector<RecordedCommand> sent = fake::CommandsWithoutSense();
                if (code != kOk && c.Opcode() == 0x2A && c.Cdb[2] == 0x01) {
                    EXPECT_TRUE(std::none_of(sent.begin() + n, sent.end(), [](const RecordedCommand &later) {
                        return later.Opcode() == 0x2A && later.Cdb[2] == 0x01;
                    })) << "no shading table after a failed one";
                }
            } else if (inStart) {
                EXPECT_EQ(run.Start, code);
                EXPECT_EQ(run.StartCommands, n) << "nothing is sent after the failure";
                EXPECT_EQ(run.Abort, kOk);
            } else if (n == commands.size()) {
                EXPECT_EQ(run.Start, kOk);
                EXPECT_TRUE(run.ImageErrors.empty());
                EXPECT_EQ(run.Abort, code);
            } else if (imageData && code == uint16_t(SD_ERR_END_OF_DATA)) {
                /* The scanner ends the image: not an error. */
                EXPECT_EQ(run.Start, kOk);
                EXPECT_TRUE(run.ImageErrors.empty());
                EXPECT_TRUE(run.EndedEarly);
                EXPECT_LT(run.Delivered, run.Promised);
            } else {
                EXPECT_EQ(run.Start, kOk);
                ASSERT_EQ(run.ImageErrors.size(), 1u);
                EXPECT_EQ(run.ImageErrors[0], code);
                EXPECT_EQ(run.Abort, kOk);
            }
        }
    }
}

TEST_F(FailureLoops, EveryAllocationOfEveryScanKindFailsWithNoMemoryAndLeaksNothing)
{
    for (const ScanKind &kind : kScanKinds) {
        for (bool persistent : {false, true}) {
            const int live = LiveAllocations();
            int sites = 0, spared = 0;
            for (int n = 1;; ++n) {
                SCOPED_TRACE(std::string(kind.Name) + (persistent ? ", from" : ", only") + " allocation " +
                             std::to_string(n));
                Configure(kind);
                FailAllocationAfter(n - 1, persistent);
                /* Transient: a repeated image call must succeed. */
                const ScanRun run = RunScan(!persistent);
                const int injected = StopFailingAllocations();
                EXPECT_EQ(LiveAllocations(), live);
                if (injected == 0) {
                    EXPECT_EQ(run.Start, kOk);
                    EXPECT_TRUE(run.ImageErrors.empty());
                    EXPECT_EQ(run.Delivered, run.Promised);
                    break;
                }
                ASSERT_LE(n, 20) << "the loop does not end";
                if (run.Start == kOk && run.ImageErrors.empty()) {
                    /* The vector tables: the plain routine does without. */
                    EXPECT_EQ(run.Delivered, run.Promised);
                    EXPECT_EQ(run.Abort, kOk);
                    ++spared;
                    continue;
                }
                ++sites;
                if (run.Start != kOk) {
                    /* A command's code or the pipeline's own: the low half. */
                    EXPECT_EQ(uint16_t(run.Start), kNoMemory);
                    EXPECT_EQ(run.Promised, 0u);
                } else {
                    /* The image call's own code: the high half is 0xFFFF. */
                    ASSERT_FALSE(run.ImageErrors.empty());
                    EXPECT_EQ(run.ImageErrors[0], uint32_t(SD_ERR_NO_MEMORY));
                    if (!persistent) {
                        EXPECT_EQ(run.ImageErrors.size(), 1u) << "the next call sets the buffer up";
                        EXPECT_EQ(run.Delivered, run.Promised);
                    }
                }
                EXPECT_EQ(run.Abort, kOk);
            }
            /* Failing from the tables on fails the allocations after them too. */
            const int spare = VectorRoutinesUsable() ? kind.SpareSites : 0;
            EXPECT_EQ(sites, kind.AllocationSites + (persistent ? spare : 0))
                << kind.Name << (persistent ? " persistent" : " transient");
            EXPECT_EQ(spared, persistent ? 0 : spare) << kind.Name;
        }
    }
}

TEST_F(FailureLoops, EveryCommandOfEveryScanKindFailingOnTheAdapter)
{
    for (const ScanKind &kind : kScanKinds)
        CommandLoop(kind, kAdapterFailures);
}

TEST_F(FailureLoops, EveryCommandOfTheCalibratedAndTaggedScansWithEveryClassOfSense)
{
    CommandLoop(kScanKinds[6], kSenseFailures);
    CommandLoop(kScanKinds[2], kSenseFailures);
}

/* --- The other exports ------------------------------------------------ */

/* Calls an export on a poisoned block; says whether only dwResult changed. */
template <class Block>
uint32_t CallOn(void (*exported)(Block *), const std::function<void(Block &)> &set, bool &untouched)
{
    Block before = Poisoned<Block>();
    set(before);
    Block block = before;
    exported(&block);
    Block expected = before;
    expected.dwResult = block.dwResult;
    untouched = std::memcmp(&expected, &block, sizeof block) == 0;
    return block.dwResult;
}

/* vScannerCapability with every list but `missing` (0-2; 3 none); the lists
 * count as part of the block. */
uint32_t Capability(int missing, bool &untouched)
{
    static int32_t contrast[256], brightness[256];
    static uint32_t adjust[256];
    static uint16_t resolutions[150], patterns[12];
    void *lists[] = {contrast, brightness, adjust, resolutions, patterns};
    size_t sizes[] = {sizeof contrast, sizeof brightness, sizeof adjust, sizeof resolutions, sizeof patterns};
    for (int k = 0; k < 5; ++k)
        std::memset(lists[k], 0xA5, sizes[k]);
    uint32_t result = CallOn<CapabilityBlock>(vScannerCapability, [&](CapabilityBlock &b) {
        b.lpContrastList = missing == 0 ? nullptr : contrast;
        b.lpBrightnessList = missing == 1 ? nullptr : brightness;
        b.lpAdjustList = missing == 2 ? nullptr : adjust;
        b.lpResolutionList = resolutions;
        b.lpPatternList = patterns;
        b.wDeviceSetting = 0x0045;
    }, untouched);
    for (int k = 0; k < 5; ++k)
        untouched = untouched && std::all_of(static_cast<uint8_t *>(lists[k]), static_cast<uint8_t *>(lists[k]) + sizes[k],
                                             [](uint8_t b) { return b == 0xA5; });
    return result;
}

struct ExportCall {
    const char *Name;
    std::function<uint32_t(bool &untouched)> Call;
    uint8_t IgnoredOpcode; /* a command whose failure the export does not report, or 0 */
};

template <class Block> std::function<uint32_t(bool &)> Plain(void (*exported)(Block *))
{
    return [exported](bool &untouched) { return CallOn<Block>(exported, [](Block &) {}, untouched); };
}

/* The scanner has a device setting (page byte 18), whose SEND capability
 * does not report. */
const ExportCall kExports[] = {
    {"vInitializeScanner", Plain(vInitializeScanner), 0},
    {"vDefaultAttribute", Plain(vDefaultAttribute), 0},
    {"vScannerCapability", [](bool &untouched) { return Capability(3, untouched); }, 0x2A},
    {"vGetLampStatus", Plain(vGetLampStatus), 0},
    {"vSetLampStatus",
     [](bool &untouched) {
         return CallOn<LampBlock>(vSetLampStatus, [](LampBlock &b) {
             b.wLampState = SD_LAMP_1;
             b.dwLampTimer = 600;
         }, untouched);
     },
     0},
    {"vScannerAbortScan", Plain(vScannerAbortScan), 0},
};

TEST_F(FailureLoops, EveryCommandOfEveryOtherExport)
{
    std::vector<Failure> failures = kAdapterFailures;
    for (const Failure &f : kSenseFailures)
        failures.push_back(f);
    bool untouched = false;
    for (const ExportCall &call : kExports) {
        scanner = FakeScanner();
        scanner.Page[18] = 0x10;
        fake::Reset();
        scanner.Install();
        /* Exports without a scan allocate nothing. */
        FailAllocationAfter(0, true);
        ASSERT_EQ(call.Call(untouched), kOk) << call.Name;
        EXPECT_EQ(StopFailingAllocations(), 0) << call.Name;
        const std::vector<RecordedCommand> commands = fake::CommandsWithoutSense();
        ASSERT_FALSE(commands.empty()) << call.Name;
        for (const Failure &failure : failures) {
            for (size_t n = 1; n <= commands.size(); ++n) {
                SCOPED_TRACE(std::string(call.Name) + ", command " + std::to_string(n) + " ends with " +
                             failure.Name());
                scanner = FakeScanner();
                scanner.Page[18] = 0x10;
                fake::Reset();
                FailCommand(n, failure);
                const uint32_t expected = commands[n - 1].Opcode() == call.IgnoredOpcode ? kOk : failure.Code();
                EXPECT_EQ(call.Call(untouched), expected);
                if (n == 1 && expected != kOk) {
                    EXPECT_TRUE(untouched) << "a failed first command writes only dwResult";
                }
                EXPECT_EQ(LiveAllocations(), 0);
            }
        }
    }
}

TEST_F(FailureLoops, RefusalsWriteOnlyTheResult)
{
    const uint32_t kParameterValue = uint16_t(SD_ERR_PARAMETER_VALUE); /* the page's fault: high half 0 */
    const uint32_t kNotAScanner = uint32_t(SD_ERR_NOT_A_SCANNER);      /* the export's own */
    const struct {
        const char *What;
        std::function<void(FakeScanner &)> Prepare;
        std::function<uint32_t(bool &)> Call;
        uint32_t Result;
        size_t Commands;
    } rows[] = {
        {"no contrast list", [](FakeScanner &) {}, [](bool &u) { return Capability(0, u); }, kParameterValue, 0},
        {"no brightness list", [](FakeScanner &) {}, [](bool &u) { return Capability(1, u); }, kParameterValue, 0},
        {"no adjust list", [](FakeScanner &) {}, [](bool &u) { return Capability(2, u); }, kParameterValue, 0},
        {"capability, base 0", [](FakeScanner &s) { s.SetBig16(11, 0); }, [](bool &u) { return Capability(3, u); },
         kParameterValue, 1},
        {"defaults, base 0", [](FakeScanner &s) { s.SetBig16(11, 0); }, Plain(vDefaultAttribute), kParameterValue, 1},
        /* Not a SCSI-2 scanner. */
        {"device type 3", [](FakeScanner &s) { s.InquiryData[0] = 0x03; }, Plain(vInitializeScanner), kNotAScanner, 1},
        {"qualifier", [](FakeScanner &s) { s.InquiryData[0] = 0x26; }, Plain(vInitializeScanner), kNotAScanner, 1},
        {"SCSI-1", [](FakeScanner &s) { s.InquiryData[2] = 0x01; }, Plain(vInitializeScanner), kNotAScanner, 1},
        {"SCSI-3", [](FakeScanner &s) { s.InquiryData[2] = 0x03; }, Plain(vInitializeScanner), kNotAScanner, 1},
        {"format 2 + flag", [](FakeScanner &s) { s.InquiryData[3] = 0x12; }, Plain(vInitializeScanner), kNotAScanner, 1},
        {"format 1", [](FakeScanner &s) { s.InquiryData[3] = 0x01; }, Plain(vInitializeScanner), kNotAScanner, 1},
        {"format 0", [](FakeScanner &s) { s.InquiryData[3] = 0x00; }, Plain(vInitializeScanner), kNotAScanner, 1},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.What);
        scanner = FakeScanner();
        row.Prepare(scanner);
        fake::Reset();
        scanner.Install();
        ModelCode = 77;
        bool untouched = false;
        EXPECT_EQ(row.Call(untouched), row.Result);
        EXPECT_TRUE(untouched);
        EXPECT_EQ(fake::Commands().size(), row.Commands);
        EXPECT_EQ(ModelCode, 77) << "the model is taken from a scanner only";
    }
}

TEST_F(FailureLoops, SensorPollAnswersForEveryFailure)
{
    /* The poll bypasses the executor: busy (low 16 bits) is 0 without waiting,
     * anything else -1, no sense, the counter stays. A failing send-back of
     * an event is not reported. */
    scanner.Lamp[2] = 0x40;
    scanner.Lamp[7] = 3;
    std::vector<Failure> failures = kSenseFailures;
    failures.insert(failures.end(), {{2, {}, 0}, {24, {}, 0}, {7, {}, 0}, {3, {}, 0}, {0x10003, {}, 0}});
    for (const Failure &failure : failures) {
        fake::Reset();
        FailCommand(1, failure);
        EXPECT_EQ(vPaperReady(), uint16_t(failure.Status) == BUSLNK_BUSY ? 0 : -1) << failure.Name();
        EXPECT_EQ(fake::Commands().size(), 1u) << failure.Name();
    }
    EXPECT_TRUE(Sleeps.empty());
    EXPECT_EQ(SensorCount, 0u);
    fake::Reset();
    FailCommand(2, {BUSLNK_FAILURE, {}, 0});
    EXPECT_EQ(vPaperReady(), 1 | (3 << 9)) << "the event is reported though it could not be cleared";
}

} // namespace
