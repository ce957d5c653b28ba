/*
 * scan_command_test.cpp - the built scan command against the null adapter,
 * the scripted driver (fake_driver.cpp) and the virtual scanner.
 */
#include "image_decode.h"
#include "run_command.h"

#include <gtest/gtest.h>

#include <signal.h>

namespace {

const std::string kScan = SCAN_BINARY;
const std::string kBuildDir = SCAN_BUILD_DIR;

using Args = std::vector<std::string>;

Args Fake(Args args)
{
    args.insert(args.begin(), {"-d", "null", "--driver", SCAN_FAKE_DRIVER});
    return args;
}

/* "@" in an argument names a file in the run's own directory. */
struct Invocation {
    TempDir Dir, Logs;
    CommandResult Result;
    Invocation(Args args, std::vector<std::string> env = {}, const ErrWatcher &watch = nullptr)
    {
        for (std::string &arg : args)
            if (arg[0] == '@')
                arg = Dir.File(arg.substr(1));
        env.push_back("SCAN_FAKE_LOG=" + Logs.File("driver.log"));
        Result = RunCommand(kScan, args, env, watch);
    }
    std::string Log() const { return ReadFile(Logs.File("driver.log")); }
};

TEST(ScanCommand, FailuresExitWithTheirStatusAndAMessageAndWriteNothing)
{
    struct Case {
        Args Arguments;
        const char *Env; /* one variable for the scripted driver, or "" */
        int Status;
        const char *Message;
    };
    const Case cases[] = {
        {{"stray", "-o", "@a.png"}, "", 2, "Try 'scan --help'"},
        {{"-o", "@scan.jpg"}, "", 2, "use --format pnm, png, tiff, pdf or bmp"},
        {{"--depth", "16", "-o", "@scan.bmp"}, "", 2, "a BMP image holds at most 8 bits per sample"},
        {{"-d", "epsilon", "--sensor"}, "", 2, "unknown device 'epsilon'"},
        {{"-d", "/nonexistent/libbuslnk32.so.1", "--sensor"}, "", 1, "no adapter library at /nonexistent/libbuslnk32.so.1"},
        {{"-d", kBuildDir + "/libscandrv.so", "--sensor"}, "", 1, "is not an adapter library"},
        {{"-d", "sg:99,7", "--sensor"}, "", 1, "scan: no scanner 'sg:99,7'"},
        /* The real driver and nothing that answers. */
        {{"-d", "null", "-o", "@scan.png"}, "", 1, "(result -1004)"},
        {{"-d", "null", "--sensor"}, "", 1, "the scanner does not answer"},
        /* What the scripted scanner refuses, before or at the start. */
        {Fake({"--format", "tiff", "--resolution", "30"}), "", 2, "cannot be written to a pipe"},
        {Fake({"-l", "100", "-x", "200", "-o", "@a.png"}), "", 2, "reaches beyond the glass"},
        {Fake({"-x", "0", "-o", "@a.png"}), "", 2, "the scan area is empty"},
        {Fake({"--mode", "Gray", "--depth", "16", "-o", "@a.pdf"}), "", 2, "a PDF page holds 1 or 8 bits per sample"},
        {Fake({"--resolution", "601", "-o", "@a.png"}), "", 2, "above the highest the scanner offers, 600 dpi"},
        {Fake({"--gamma-file", "/nonexistent/gamma.txt", "-o", "@a.png"}), "", 2, "/nonexistent/gamma.txt"},
        {Fake({"-o", "/nonexistent-dir/a.png"}), "", 1, "cannot create a file in /nonexistent-dir"},
        {Fake({"--lens", "1", "-o", "@a.png"}), "", 1, "the scanner has no lens 1"},
        {Fake({"--source", "Transparency", "-o", "@a.png"}), "", 1, "no transparency unit"},
        {Fake({"--mode", "Color", "-o", "@a.png"}), "SCAN_FAKE_GREY_ONLY=1", 1, "the scanner has no colour mode (result -308)"},
        {Fake({"-o", "@a.png"}), "SCAN_FAKE_START_RESULT=-4242", 1, "unknown result (result -4242)"},
        {Fake({"--mode", "Lineart", "--resolution", "100", "-x", "50.8", "-o", "@a.tiff"}), "SCAN_FAKE_BILEVEL_DPI=250", 1,
         "bilevel lines of 63 bytes where the area holds 200 pixels"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Message);
        Invocation run(c.Arguments, {c.Env});
        EXPECT_EQ(run.Result.Status, c.Status) << run.Result.Err;
        EXPECT_TRUE(Contains(run.Result.Err, c.Message)) << run.Result.Err;
        EXPECT_EQ(run.Result.Out, "");
        EXPECT_TRUE(ListDirectory(run.Dir.Path()).empty());
        if (std::string(c.Env).find("DPI") != std::string::npos) {
            EXPECT_TRUE(Contains(run.Log(), "abort")) << "the scan was stopped: " << run.Log();
        }
    }
}

TEST(ScanCommand, ReportsAndSettingsInWordsAndAsTheDriverGetsThem)
{
    std::string gamma;
    for (int i = 255; i >= 0; --i)
        gamma += std::to_string(i) + "\n";
    TempDir tables;
    WriteFile(tables.File("gamma.txt"), gamma);
    struct Case {
        Args Arguments;
        std::string Out, Err, Log; /* parts each must hold, when not empty */
    };
    const Case cases[] = {
        {{"-d", "null", "-L"}, "No scanners were identified", "", ""},
        {Fake({"-A"}), "--resolution 3..600dpi [300]", "", ""},
        {Fake({"-A"}), "cells per pattern: 0:8x8 1:8x8 2:8x8 3:8x8 4:6x6 5:5x5", "", ""},
        {Fake({"--lamp-status"}), "lamp 1: on\nlamp 2: off\nlamp timer: 900 s", "", ""},
        {Fake({"--sensor"}), "document: present (seen 3 times)\nevent: 2\n", "", ""},
        {Fake({"--lamp", "off", "--lamp-timer", "600"}), "", "", "set lamps state=0 timer=600"},
        {Fake({"--lamp", "on", "--source", "Transparency"}), "", "", "set lamps state=2 timer=900"},
        {Fake({"--mode", "Gray", "--depth", "16", "--resolution", "20", "-o", "@a.pnm"}), "", "", "start type=1 bits=16"},
        {Fake({"--gamma-file", tables.File("gamma.txt"), "--resolution", "20", "-o", "@a.png"}), "", "",
         "gamma scale=0 entries 0:255 255:0"},
        {Fake({"-p", "--resolution", "50", "-o", "@a.png"}), "", "100.0%", ""},
        {Fake({"--shadow", "10", "--highlight", "200", "--resolution", "20", "-o", "@a.png"}), "", "", "tones flags=5 shadow 10 10 10 midtone 0 0 0 highlight 200 200 200"},
    };
    for (const Case &c : cases) {
        Invocation run(c.Arguments);
        EXPECT_EQ(run.Result.Status, 0) << c.Arguments.back() << ": " << run.Result.Err;
        EXPECT_TRUE(Contains(run.Result.Out, c.Out)) << c.Out << "\n" << run.Result.Out;
        EXPECT_TRUE(Contains(run.Result.Err, c.Err)) << c.Err << "\n" << run.Result.Err;
        EXPECT_TRUE(Contains(run.Log(), c.Log)) << c.Log << "\n" << run.Log();
        if (c.Err.empty()) {
            EXPECT_FALSE(Contains(run.Result.Err, "%")) << "no progress unasked: " << run.Result.Err;
        }
    }
}

TEST(ScanCommand, EveryModeAndFormatCarriesTheDeliveredImage)
{
    /* 1.0 x 0.5 inch at 0.2, 0.3 inch from the corner, at 75 dpi */
    const Args area = {"--resolution", "75", "-l", "5.08", "-t", "7.62", "-x", "25.4", "-y", "12.7"};
    struct Case {
        Args Arguments; /* "" as the file for standard output */
        const char *Env;
        uint32_t Width, Height;
        unsigned Channels, Bits, Dpi; /* 0: PNM holds none */
    };
    auto mode = [&](const char *m, const char *depth, const char *file) {
        Args args = area;
        args.insert(args.end(), {"--mode", m, "--depth", depth, "-o", file});
        return Case{args, "", 75, 38, std::string(m) == "Color" ? 3u : 1u, unsigned(std::stoi(depth)), 75};
    };
    const Case cases[] = {
        mode("Color", "16", "@c16.tiff"), mode("Halftone", "1", "@h.png"), mode("Color", "8", "@c8.bmp"),
        /* The whole glass by default, 8500 x 11700 thousandths. */
        {{"--mode", "Gray", "--resolution", "100", "-o", "@a.png"}, "", 850, 1170, 1, 8, 100},
        {{"--resolution", "50", "-o", "@a.png"}, "SCAN_FAKE_GREY_ONLY=1", 425, 585, 1, 8, 50},
        /* Rounding half a millimetre past the edge is trimmed, not refused. */
        {{"--resolution", "10", "-x", "216.3", "-y", "25.4", "-o", "@a.png"}, "", 85, 10, 3, 8, 10},
        {{"--resolution", "30", "-x", "25.4", "-y", "25.4", "-o", ""}, "", 30, 30, 3, 8, 0},
    };
    for (const Case &c : cases) {
        Args args = Fake(c.Arguments);
        std::string file = args.back();
        if (file.empty())
            args.resize(args.size() - 2);
        Invocation run(args, {c.Env});
        ASSERT_EQ(run.Result.Status, 0) << file << ": " << run.Result.Err;
        DecodedImage image;
        std::string error;
        ASSERT_TRUE(file.empty() ? DecodePnm(run.Result.Out, image, error)
                                 : DecodeImageFile(run.Dir.File(file.substr(1)), image, error)) << error;
        EXPECT_EQ(std::tie(image.Width, image.Height, image.Channels, image.Depth),
                  std::tie(c.Width, c.Height, c.Channels, c.Bits)) << file;
        if (c.Dpi != 0) {
            EXPECT_NEAR(image.ResolutionX, c.Dpi, 0.05) << file; /* PNG: whole pixels per metre */
        }
        EXPECT_EQ(WrongFakeSamples(image), 0u) << file;
        EXPECT_EQ(ListDirectory(run.Dir.Path()).size(), file.empty() ? 0u : 1u) << "no temporary file left";
    }
}

TEST(ScanCommand, AFailureMidScanAbortsAndKeepsTheOlderFile)
{
    TempDir dir;
    WriteFile(dir.File("scan.png"), "an older scan");
    Invocation run(Fake({"--resolution", "100", "-o", dir.File("scan.png")}), {"SCAN_FAKE_FAIL_LINE=500"});
    EXPECT_EQ(run.Result.Status, 1);
    EXPECT_TRUE(Contains(run.Result.Err, "the scan stopped after")) << run.Result.Err;
    EXPECT_TRUE(Contains(run.Result.Err, "the scanner does not answer")) << run.Result.Err;
    EXPECT_TRUE(Contains(run.Log(), "abort")) << run.Log();
    EXPECT_EQ(ListDirectory(dir.Path()), Args{"scan.png"});
    EXPECT_EQ(ReadFile(dir.File("scan.png")), "an older scan");
}

TEST(ScanCommand, InterruptStopsTheScanAndRemovesTheFile)
{
    for (int signal : {SIGINT, SIGTERM}) {
        bool sent = false;
        Invocation run(Fake({"-p", "--resolution", "300", "-o", "@scan.tiff"}), {"SCAN_FAKE_DELAY_MS=20"},
                [&](int pid, const std::string &err) {
                    if (!sent && Contains(err, "%"))
                        sent = kill(pid, signal) == 0;
                });
        ASSERT_TRUE(sent) << run.Result.Err;
        EXPECT_EQ(run.Result.Status, 128 + signal) << run.Result.Err;
        EXPECT_TRUE(Contains(run.Result.Err, "interrupted")) << run.Result.Err;
        EXPECT_TRUE(Contains(run.Log(), "abort active=1")) << run.Log();
        EXPECT_TRUE(ListDirectory(run.Dir.Path()).empty());
    }
}

TEST(ScanCommand, AFlatbedBatchNamesEachPage)
{
    Invocation run(Fake({"--batch-count", "3", "--batch-start", "9", "--resolution", "20", "-o", "@page%02d.pnm"}));
    ASSERT_EQ(run.Result.Status, 0) << run.Result.Err;
    EXPECT_EQ(ListDirectory(run.Dir.Path()), (Args{"page09.pnm", "page10.pnm", "page11.pnm"}));
}

/* --- The virtual scanner and the real driver -------------------------------- */

TEST(VirtualScan, ScansTheChartAndListsTheScanner)
{
    if (std::string why = VirtualScannerMissing(); !why.empty())
        GTEST_SKIP() << why;
    /* 2 x 1 inch of line art at 250 dpi, a resolution the scanner makes bilevel lines at itself. */
    Invocation run({"--mode", "Lineart", "--resolution", "250", "-x", "50.8", "-y", "25.4", "--trace", "@trace.txt", "-o",
                    "@chart.tiff"});
    ASSERT_EQ(run.Result.Status, 0) << run.Result.Err;
    DecodedImage image;
    std::string error;
    ASSERT_TRUE(DecodeImageFile(run.Dir.File("chart.tiff"), image, error)) << error;
    EXPECT_EQ(std::tie(image.Width, image.Height, image.Channels, image.Depth), std::make_tuple(500u, 250u, 1u, 1u));
    EXPECT_NE(size_t(std::count(image.Samples.begin(), image.Samples.end(), image.Samples[0])), image.Samples.size())
        << "a chart is not blank";
    EXPECT_FALSE(ReadFile(run.Dir.File("trace.txt")).empty());
    Invocation list({"-L"});
    EXPECT_TRUE(Contains(list.Result.Out, "device `sim:0' is a virtual")) << list.Result.Out;
}

} // namespace
