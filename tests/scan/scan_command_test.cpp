/*
 * scan_command_test.cpp - the built scan command, run as a person runs it.
 *
 * Three kinds of device stand behind it here: the null adapter (nothing
 * answers), a scripted driver loaded with --driver (fake_driver.cpp: a
 * known image, failures and delays on request), and the virtual scanner
 * with the real driver, when both are built. Every failure must exit
 * non-zero with a message in words and leave no file behind.
 */
#include "fake_image.h"
#include "image_decode.h"
#include "run_command.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <signal.h>
#include <sys/stat.h>

#include <tiffio.h>

namespace {

const std::string kScan = SCAN_BINARY;
const std::string kBuildDir = SCAN_BUILD_DIR;
const std::string kFakeDriver = SCAN_FAKE_DRIVER;

bool Contains(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

/* PNM files hold no resolution. */
bool IsPnm(const std::string &name)
{
    for (const char *ext : {".pnm", ".ppm", ".pgm", ".pbm"})
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ext) == 0)
            return true;
    return false;
}

/* Pixels or lines of an extent in 1/1000 inch, rounded as the driver does. */
uint32_t Delivered(uint32_t mils, uint32_t dpi)
{
    return (mils * dpi + 500) / 1000;
}

// --- The command line ------------------------------------------------------

TEST(ScanCommandLine, BadOptionsExitWithStatus2AndWriteNothing)
{
    const std::vector<std::vector<std::string>> cases = {
        {"--mode", "Infrared"}, {"--depth", "3"},       {"--resolution", "0"}, {"-l", "-5"},
        {"-y", "-1"},           {"--format", "gif"},    {"--unknown"},         {"--depth", "16", "--mode", "Lineart"},
        {"--brightness", "999"}, {"stray"},
    };
    for (const auto &args : cases) {
        TempDir dir;
        std::vector<std::string> full = args;
        full.insert(full.end(), {"-o", dir.File("out.png")});
        CommandResult r = RunCommand(kScan, full);
        EXPECT_EQ(r.Status, 2) << args[0] << ": " << r.Err;
        EXPECT_TRUE(Contains(r.Err, "Try 'scan --help'")) << r.Err;
        EXPECT_TRUE(r.Out.empty());
        EXPECT_TRUE(ListDirectory(dir.Path()).empty()) << args[0];
    }
}

TEST(ScanCommandLine, AnUnknownExtensionNeedsAFormat)
{
    TempDir dir;
    CommandResult r = RunCommand(kScan, {"-o", dir.File("scan.bmp")});
    EXPECT_EQ(r.Status, 2);
    EXPECT_TRUE(Contains(r.Err, "use --format pnm, png, tiff or pdf")) << r.Err;
}

TEST(ScanCommandLine, HelpAndVersion)
{
    CommandResult help = RunCommand(kScan, {"--help"});
    EXPECT_EQ(help.Status, 0);
    for (const char *option : {"--device", "--list-devices", "--mode", "--resolution", "--depth", "--source",
                               "--brightness", "--contrast", "--halftone-pattern", "--gamma-file", "--format",
                               "--output-file", "--progress", "--batch-count", "--all-options", "--lamp-status",
                               "--lamp-timer", "--lens", "--sensor", "--trace", "--version"})
        EXPECT_TRUE(Contains(help.Out, option)) << option;
    CommandResult version = RunCommand(kScan, {"-V"});
    EXPECT_EQ(version.Status, 0);
    EXPECT_EQ(version.Out.rfind("scan (scandrv) ", 0), 0u) << version.Out;
}

TEST(ScanCommandLine, UnknownDevicesAndLibraries)
{
    CommandResult name = RunCommand(kScan, {"-d", "epsilon", "--sensor"});
    EXPECT_EQ(name.Status, 2);
    EXPECT_TRUE(Contains(name.Err, "unknown device 'epsilon'")) << name.Err;

    CommandResult missing = RunCommand(kScan, {"-d", "/nonexistent/libbuslnk32.so.1", "--sensor"});
    EXPECT_EQ(missing.Status, 1);
    EXPECT_TRUE(Contains(missing.Err, "no adapter library at /nonexistent/libbuslnk32.so.1")) << missing.Err;

    /* The driver is a library, but no adapter. */
    CommandResult notAdapter = RunCommand(kScan, {"-d", kBuildDir + "/libscandrv.so", "--sensor"});
    EXPECT_EQ(notAdapter.Status, 1);
    EXPECT_TRUE(Contains(notAdapter.Err, "is not an adapter library")) << notAdapter.Err;

    CommandResult noDriver = RunCommand(kScan, {"-d", "null", "--driver", "/nonexistent/libscandrv.so", "--sensor"});
    EXPECT_EQ(noDriver.Status, 1);
    EXPECT_TRUE(Contains(noDriver.Err, "no driver library at /nonexistent/libscandrv.so")) << noDriver.Err;
}

// --- Nothing answers: the null adapter and the real driver --------------------

TEST(ScanWithoutScanner, SaysTheScannerDoesNotAnswerAndLeavesNoFile)
{
    TempDir dir;
    CommandResult r = RunCommand(kScan, {"-d", "null", "-o", dir.File("scan.png")});
    EXPECT_EQ(r.Status, 1);
    EXPECT_TRUE(Contains(r.Err, "the scanner does not answer")) << r.Err;
    EXPECT_TRUE(Contains(r.Err, "-1004")) << r.Err;
    EXPECT_TRUE(ListDirectory(dir.Path()).empty());
}

TEST(ScanWithoutScanner, DeviceControlFailsInWords)
{
    for (const std::vector<std::string> &action :
         {std::vector<std::string>{"--lamp-status"}, {"--lamp", "on"}, {"--sensor"}, {"-A"}, {"--lens", "1"}}) {
        std::vector<std::string> args = {"-d", "null"};
        args.insert(args.end(), action.begin(), action.end());
        CommandResult r = RunCommand(kScan, args);
        EXPECT_EQ(r.Status, 1) << action[0];
        EXPECT_TRUE(Contains(r.Err, "the scanner does not answer")) << action[0] << ": " << r.Err;
    }
}

TEST(ScanWithoutScanner, AnAbsentScsiScannerIsNamed)
{
    CommandResult r = RunCommand(kScan, {"-d", "sg:99,7", "--sensor"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Err.rfind("scan: no scanner 'sg:99,7'", 0), 0u) << r.Err;
}

TEST(ScanWithoutScanner, ListingFindsNothing)
{
    CommandResult r = RunCommand(kScan, {"-d", "null", "-L"});
    EXPECT_EQ(r.Status, 0);
    EXPECT_TRUE(Contains(r.Out, "No scanners were identified")) << r.Out;
}

// --- The scripted driver ------------------------------------------------------

class ScriptedScan : public testing::Test {
protected:
    CommandResult Scan(std::vector<std::string> args, std::vector<std::string> env = {},
                       const ErrWatcher &watch = nullptr)
    {
        args.insert(args.begin(), {"-d", "null", "--driver", kFakeDriver});
        env.push_back("SCAN_FAKE_LOG=" + Log());
        return RunCommand(kScan, args, env, watch);
    }

    std::string Log() const { return Logs.File("driver.log"); }
    std::string LogText() const { return ReadFile(Log()); }

    DecodedImage Decode(const std::string &path)
    {
        DecodedImage image;
        std::string error;
        EXPECT_TRUE(DecodeImageFile(path, image, error)) << error;
        return image;
    }

    TempDir Dir;
    TempDir Logs; /* apart from Dir, so Dir holds nothing but images */
};

struct ModeCase {
    const char *Mode;
    const char *Depth;
    const char *File;
    unsigned Channels;
    unsigned Bits;
};

TEST_F(ScriptedScan, EveryModeAndFormatCarriesTheDeliveredImage)
{
    const ModeCase cases[] = {
        {"Color", "8", "c8.png", 3, 8},   {"Color", "16", "c16.tiff", 3, 16}, {"Gray", "16", "g16.pgm", 1, 16},
        {"Gray", "8", "g8.tif", 1, 8},    {"Lineart", "1", "l.tiff", 1, 1},   {"Halftone", "1", "h.png", 1, 1},
        {"Lineart", "1", "l.pbm", 1, 1},  {"Color", "16", "c16.png", 3, 16},
    };
    for (const ModeCase &c : cases) {
        /* 1.0 x 0.5 inch at 0.2, 0.3 inch from the corner, at 75 dpi */
        CommandResult r = Scan({"--mode", c.Mode, "--depth", c.Depth, "--resolution", "75", "-l", "5.08", "-t",
                                "7.62", "-x", "25.4", "-y", "12.7", "-o", Dir.File(c.File)});
        ASSERT_EQ(r.Status, 0) << c.File << ": " << r.Err;
        DecodedImage image = Decode(Dir.File(c.File));
        EXPECT_EQ(image.Width, Delivered(1000, 75)) << c.File;
        EXPECT_EQ(image.Height, Delivered(500, 75)) << c.File;
        EXPECT_EQ(image.Channels, c.Channels) << c.File;
        EXPECT_EQ(image.Depth, c.Bits) << c.File;
        if (!IsPnm(c.File)) {
            EXPECT_NEAR(image.ResolutionX, 75.0, 0.01) << c.File;
        }
        int wrong = 0;
        for (uint32_t y = 0; y < image.Height; ++y)
            for (uint32_t x = 0; x < image.Width; ++x)
                for (unsigned ch = 0; ch < image.Channels; ++ch) {
                    uint16_t want = c.Bits == 1    ? (FakeBlack(x, y) ? 1 : 0)
                                    : c.Bits == 16 ? FakeSample16(x, y, ch)
                                                   : FakeSample8(x, y, ch);
                    wrong += image.At(x, y, ch) != want;
                }
        EXPECT_EQ(wrong, 0) << c.File;
    }
    EXPECT_EQ(ListDirectory(Dir.Path()).size(), std::size(cases)); /* no temporary files left */
}

TEST_F(ScriptedScan, TheBlockCarriesModeDepthAndAreaToTheDriver)
{
    CommandResult r = Scan({"--mode", "Gray", "--depth", "16", "--resolution", "100", "-o", Dir.File("a.pnm")});
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_TRUE(Contains(LogText(), "start type=1 bits=16")) << LogText();
    /* The whole glass of the scripted scanner: 8500 x 11700 thousandths. */
    DecodedImage image = Decode(Dir.File("a.pnm"));
    EXPECT_EQ(image.Width, Delivered(8500, 100));
    EXPECT_EQ(image.Height, Delivered(11700, 100));
}

TEST_F(ScriptedScan, AnImageGoesToStandardOutputWithoutO)
{
    CommandResult r = Scan({"--resolution", "30", "-x", "25.4", "-y", "25.4"});
    ASSERT_EQ(r.Status, 0) << r.Err;
    DecodedImage image;
    std::string error;
    ASSERT_TRUE(DecodePnm(r.Out, image, error)) << error;
    EXPECT_EQ(image.Width, 30u);
    EXPECT_EQ(image.Height, 30u);
    EXPECT_EQ(image.Channels, 3u);

    CommandResult tiff = Scan({"--format", "tiff", "--resolution", "30"});
    EXPECT_EQ(tiff.Status, 2);
    EXPECT_TRUE(Contains(tiff.Err, "cannot be written to a pipe")) << tiff.Err;
}

TEST_F(ScriptedScan, AFailureMidScanAbortsAndLeavesNoFile)
{
    WriteFile(Dir.File("scan.png"), "an older scan");
    CommandResult r = Scan({"--resolution", "100", "-o", Dir.File("scan.png")}, {"SCAN_FAKE_FAIL_LINE=500"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_TRUE(Contains(r.Err, "the scan stopped after")) << r.Err;
    EXPECT_TRUE(Contains(r.Err, "the scanner does not answer")) << r.Err;
    EXPECT_TRUE(Contains(LogText(), "abort")) << LogText();
    EXPECT_EQ(ListDirectory(Dir.Path()), std::vector<std::string>{"scan.png"});
    EXPECT_EQ(ReadFile(Dir.File("scan.png")), "an older scan");
}

TEST_F(ScriptedScan, ARefusedStartIsReportedInWords)
{
    CommandResult colour = Scan({"--mode", "Color", "-o", Dir.File("a.png")}, {"SCAN_FAKE_GREY_ONLY=1"});
    EXPECT_EQ(colour.Status, 1);
    EXPECT_TRUE(Contains(colour.Err, "the scanner has no colour mode")) << colour.Err;
    EXPECT_TRUE(Contains(colour.Err, "-308")) << colour.Err;

    CommandResult lamp = Scan({"-o", Dir.File("a.png")}, {"SCAN_FAKE_START_RESULT=-204"});
    EXPECT_EQ(lamp.Status, 1);
    EXPECT_TRUE(Contains(lamp.Err, "lamp failed")) << lamp.Err;

    CommandResult unknown = Scan({"-o", Dir.File("a.png")}, {"SCAN_FAKE_START_RESULT=-4242"});
    EXPECT_EQ(unknown.Status, 1);
    EXPECT_TRUE(Contains(unknown.Err, "unknown result (result -4242)")) << unknown.Err;
    EXPECT_TRUE(ListDirectory(Dir.Path()).empty());
}

TEST_F(ScriptedScan, BilevelLinesOfTheWrongSizeAreRefused)
{
    CommandResult r = Scan({"--mode", "Lineart", "--resolution", "100", "-x", "50.8", "-o", Dir.File("a.tiff")},
                           {"SCAN_FAKE_BILEVEL_DPI=250"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_TRUE(Contains(r.Err, "bilevel lines of 63 bytes where the area holds 200 pixels")) << r.Err;
    EXPECT_TRUE(Contains(LogText(), "abort")) << LogText();
    EXPECT_TRUE(ListDirectory(Dir.Path()).empty());
}

TEST_F(ScriptedScan, AGreyOnlyScannerScansGreyByDefault)
{
    CommandResult r = Scan({"--resolution", "50", "-o", Dir.File("a.png")}, {"SCAN_FAKE_GREY_ONLY=1"});
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(Decode(Dir.File("a.png")).Channels, 1u);
}

TEST_F(ScriptedScan, AreaAndResolutionBeyondTheDevice)
{
    CommandResult wide = Scan({"-l", "100", "-x", "200", "-o", Dir.File("a.png")});
    EXPECT_EQ(wide.Status, 2);
    EXPECT_TRUE(Contains(wide.Err, "reaches beyond the glass")) << wide.Err;

    CommandResult start = Scan({"-t", "400", "-o", Dir.File("a.png")});
    EXPECT_EQ(start.Status, 2);
    EXPECT_TRUE(Contains(start.Err, "-t 400.0 mm starts beyond the glass")) << start.Err;

    CommandResult empty = Scan({"-x", "0", "-o", Dir.File("a.png")});
    EXPECT_EQ(empty.Status, 2);
    EXPECT_TRUE(Contains(empty.Err, "the scan area is empty")) << empty.Err;

    CommandResult fine = Scan({"--resolution", "601", "-o", Dir.File("a.png")});
    EXPECT_EQ(fine.Status, 2);
    EXPECT_TRUE(Contains(fine.Err, "above the highest the scanner offers, 600 dpi")) << fine.Err;
    EXPECT_TRUE(ListDirectory(Dir.Path()).empty());

    /* Rounding half a millimetre past the edge is trimmed, not refused. */
    CommandResult edge = Scan({"--resolution", "10", "-x", "216.3", "-o", Dir.File("a.png")});
    EXPECT_EQ(edge.Status, 0) << edge.Err;
    EXPECT_EQ(Decode(Dir.File("a.png")).Width, Delivered(8500, 10));
}

TEST_F(ScriptedScan, InterruptStopsTheScanAndRemovesTheFile)
{
    for (int signal : {SIGINT, SIGTERM}) {
        bool sent = false;
        CommandResult r = Scan({"-p", "--resolution", "300", "-o", Dir.File("scan.tiff")}, {"SCAN_FAKE_DELAY_MS=20"},
                               [&](int pid, const std::string &err) {
                                   if (!sent && Contains(err, "%")) {
                                       kill(pid, signal);
                                       sent = true;
                                   }
                               });
        ASSERT_TRUE(sent) << r.Err;
        EXPECT_EQ(r.Status, 128 + signal) << r.Err;
        EXPECT_TRUE(Contains(r.Err, "interrupted")) << r.Err;
        EXPECT_TRUE(Contains(LogText(), "abort active=1")) << LogText();
        EXPECT_TRUE(ListDirectory(Dir.Path()).empty());
    }
}

TEST_F(ScriptedScan, ProgressBarOnRequestOnly)
{
    CommandResult quiet = Scan({"--resolution", "50", "-o", Dir.File("a.png")});
    ASSERT_EQ(quiet.Status, 0) << quiet.Err;
    EXPECT_FALSE(Contains(quiet.Err, "%")) << quiet.Err; /* standard error is a pipe here */
    CommandResult shown = Scan({"-p", "--resolution", "50", "-o", Dir.File("a.png")});
    ASSERT_EQ(shown.Status, 0) << shown.Err;
    EXPECT_TRUE(Contains(shown.Err, "100.0%")) << shown.Err;
}

TEST_F(ScriptedScan, BatchNamesEachPage)
{
    CommandResult r = Scan({"--batch-count", "3", "--batch-start", "9", "--resolution", "20", "-o",
                            Dir.File("page%02d.pnm")});
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(ListDirectory(Dir.Path()), (std::vector<std::string>{"page09.pnm", "page10.pnm", "page11.pnm"}));
}

TEST_F(ScriptedScan, GammaFileReachesTheDriver)
{
    std::string table;
    for (int i = 255; i >= 0; --i)
        table += std::to_string(i) + "\n";
    WriteFile(Logs.File("gamma.txt"), table);
    CommandResult r = Scan({"--gamma-file", Logs.File("gamma.txt"), "--resolution", "20", "-o", Dir.File("a.png")});
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_TRUE(Contains(LogText(), "gamma scale=0 entries 0:255 255:0")) << LogText();

    WriteFile(Logs.File("short.txt"), "1 2 3");
    CommandResult bad = Scan({"--gamma-file", Logs.File("short.txt"), "-o", Dir.File("b.png")});
    EXPECT_EQ(bad.Status, 2);
    EXPECT_TRUE(Contains(bad.Err, "short.txt: it holds 3 values")) << bad.Err;
}

TEST_F(ScriptedScan, AllOptionsShowsTheDevice)
{
    CommandResult r = Scan({"-A"});
    ASSERT_EQ(r.Status, 0) << r.Err;
    for (const char *line : {"--mode Color|Gray|Lineart|Halftone [Color]", "--resolution 3..600dpi [300]",
                             "--source Flatbed|ADF [Flatbed]", "-x 0..215.9mm [215.9]", "--brightness -128..127 [0]",
                             "--halftone-pattern 0..11 [5]", "cells per pattern: 0:8x8 1:8x8 2:8x8 3:8x8 4:6x6 5:5x5", "firmware 1.02"})
        EXPECT_TRUE(Contains(r.Out, line)) << line << "\n" << r.Out;
}

TEST_F(ScriptedScan, LampsLensAndSensor)
{
    CommandResult status = Scan({"--lamp-status"});
    ASSERT_EQ(status.Status, 0) << status.Err;
    EXPECT_TRUE(Contains(status.Out, "lamp 1: on\nlamp 2: off\nlamp timer: 900 s")) << status.Out;

    CommandResult set = Scan({"--lamp", "off", "--lamp-timer", "600"});
    ASSERT_EQ(set.Status, 0) << set.Err;
    EXPECT_TRUE(Contains(LogText(), "set lamps state=0 timer=600")) << LogText();

    CommandResult timerOnly = Scan({"--lamp-timer", "120", "--source", "Transparency"});
    ASSERT_EQ(timerOnly.Status, 0) << timerOnly.Err;
    EXPECT_TRUE(Contains(LogText(), "set lamps state=1 timer=120")) << LogText(); /* lamp 1 stays on */

    CommandResult transparency = Scan({"--lamp", "on", "--source", "Transparency"});
    ASSERT_EQ(transparency.Status, 0) << transparency.Err;
    EXPECT_TRUE(Contains(LogText(), "set lamps state=2 timer=900")) << LogText();

    CommandResult lens = Scan({"--lens", "1", "-o", Dir.File("a.png")});
    EXPECT_EQ(lens.Status, 1);
    EXPECT_TRUE(Contains(lens.Err, "the scanner has no lens 1")) << lens.Err;

    CommandResult sensor = Scan({"--sensor"});
    ASSERT_EQ(sensor.Status, 0) << sensor.Err;
    EXPECT_EQ(sensor.Out, "document: present (seen 3 times)\nevent: 2\n");
}

TEST_F(ScriptedScan, SourcesTheScannerLacks)
{
    CommandResult r = Scan({"--source", "Transparency", "-o", Dir.File("a.png")});
    EXPECT_EQ(r.Status, 1);
    EXPECT_TRUE(Contains(r.Err, "no transparency unit")) << r.Err;
}

// --- The virtual scanner and the real driver -----------------------------------

/* Why the virtual scanner cannot scan here, or empty when it can. */
std::string VirtualScannerMissing()
{
    struct stat st;
    if (stat((kBuildDir + "/libbuslnk32.so.1").c_str(), &st) != 0)
        return "skipped: virtual scanner not built";
    void *driver = dlopen((kBuildDir + "/libscandrv.so").c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (driver == nullptr)
        return std::string("skipped: the driver cannot be loaded: ") + dlerror();
    std::string missing;
    for (const char *name : {"vScannerStartScan", "vScannerGetImage", "vScannerAbortScan"})
        if (dlsym(driver, name) == nullptr)
            missing += std::string(missing.empty() ? "" : ", ") + name;
    dlclose(driver);
    return missing.empty() ? "" : "skipped: the driver does not export " + missing + " yet";
}

class VirtualScan : public testing::Test {
protected:
    void SetUp() override
    {
        std::string why = VirtualScannerMissing();
        if (!why.empty())
            GTEST_SKIP() << why;
    }
    TempDir Dir;
};

TEST_F(VirtualScan, ScansTheChartInEveryMode)
{
    struct ChartCase {
        const char *Mode;
        const char *Depth;
        const char *File;
        unsigned Channels;
        unsigned Bits;
        unsigned Dpi; /* bilevel at a resolution the scanner makes bilevel lines at */
    };
    const ChartCase cases[] = {
        {"Color", "8", "chart.png", 3, 8, 100},
        {"Color", "16", "chart16.png", 3, 16, 100},
        {"Gray", "16", "chart.tiff", 1, 16, 100},
        {"Lineart", "1", "chart-lineart.tiff", 1, 1, 250},
        {"Halftone", "1", "chart-halftone.png", 1, 1, 250},
        {"Gray", "8", "chart.pgm", 1, 8, 100},
    };
    for (const ChartCase &c : cases) {
        /* 2 x 1 inch */
        CommandResult r = RunCommand(kScan, {"--mode", c.Mode, "--depth", c.Depth, "--resolution",
                                             std::to_string(c.Dpi), "-x", "50.8", "-y", "25.4", "-o", Dir.File(c.File)});
        ASSERT_EQ(r.Status, 0) << c.File << ": " << r.Err;
        DecodedImage image;
        std::string error;
        ASSERT_TRUE(DecodeImageFile(Dir.File(c.File), image, error)) << error;
        EXPECT_EQ(image.Width, 2 * c.Dpi) << c.File;
        EXPECT_EQ(image.Height, c.Dpi) << c.File;
        EXPECT_EQ(image.Channels, c.Channels) << c.File;
        EXPECT_EQ(image.Depth, c.Bits) << c.File;
        if (!IsPnm(c.File)) {
            EXPECT_NEAR(image.ResolutionX, c.Dpi, 0.05) /* PNG holds whole pixels per metre */ << c.File;
        }
        if (Contains(c.File, "lineart.tiff")) {
            EXPECT_EQ(image.Compression, COMPRESSION_CCITTFAX4);
        }
        /* A chart is not blank: some samples differ. */
        bool varies = false;
        for (uint16_t s : image.Samples)
            varies = varies || s != image.Samples.front();
        EXPECT_TRUE(varies) << c.File;
    }
}

TEST_F(VirtualScan, TheWholeGlassByDefault)
{
    CommandResult r = RunCommand(kScan, {"--resolution", "50", "-o", Dir.File("chart.png")});
    ASSERT_EQ(r.Status, 0) << r.Err;
    DecodedImage image;
    std::string error;
    ASSERT_TRUE(DecodeImageFile(Dir.File("chart.png"), image, error)) << error;
    EXPECT_GT(image.Width, 8u * 50);  /* wider than 8 inches */
    EXPECT_GT(image.Height, 11u * 50); /* longer than 11 inches */
    EXPECT_EQ(ListDirectory(Dir.Path()), std::vector<std::string>{"chart.png"});
}

TEST_F(VirtualScan, TraceAndListing)
{
    CommandResult r = RunCommand(kScan, {"--resolution", "20", "--trace", Dir.File("trace.txt"), "-o",
                                         Dir.File("chart.pnm")});
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_FALSE(ReadFile(Dir.File("trace.txt")).empty());

    CommandResult list = RunCommand(kScan, {"-L"});
    ASSERT_EQ(list.Status, 0) << list.Err;
    EXPECT_TRUE(Contains(list.Out, "device `sim:0' is a virtual")) << list.Out;
}

} // namespace
