/*
 * wine_scan_test.cpp - scan.exe of the 64-bit Windows build, run under Wine
 * against the virtual scanner (BUSLNK32.DLL), as a Windows user runs it:
 * grey, colour and line art images and a batch whose first page alone is
 * calibrated, each byte for byte as the Linux scan command makes them; and
 * DRVPREF.INI, read beside SCANDRV.DLL, changing what the driver sends.
 * What the images hold is checked on Linux (tests/e2e, tests/scan).
 *
 * Each test stages the programs in directories of its own. The Wine prefix
 * is the one the wine_prefix test set up for the run; without Wine every
 * test is skipped.
 */
#include "image_decode.h"
#include "run_command.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <regex>
#include <sstream>

namespace fs = std::filesystem;

namespace {

const fs::path kWin64Build = SCANDRV_WIN64_BUILD;

/* The Wine loader and prefix of this run, or why there are none. */
std::string WineMissing(std::string &loader, std::string &prefix)
{
    for (const char *candidate : {static_cast<const char *>(std::getenv("WINE64")), "/usr/lib/wine/wine64", "/usr/bin/wine64", "/usr/local/bin/wine64"})
        if (candidate != nullptr && loader.empty() && access(candidate, X_OK) == 0)
            loader = candidate;
    if (loader.empty())
        return "64-bit Wine is not installed (Debian: apt-get install wine64; tools/install-deps does it)";
    std::string state = ReadFile(SCANDRV_WINE_STATE);
    prefix = state.substr(0, state.find('\n'));
    if (prefix.empty() || !fs::is_directory(prefix))
        return "no Wine prefix in " SCANDRV_WINE_STATE " (the wine_prefix test sets it up)";
    return "";
}

/* The data phases the virtual scanner's trace shows sent with commands of
 * a kind ("#N KIND cdb ..." and then "    out N bytes: ..."), in order. */
std::vector<std::string> Sent(const fs::path &trace, const std::string &kind)
{
    std::vector<std::string> data;
    std::regex command("^#[0-9]+ " + kind + " cdb");
    std::istringstream lines(ReadFile(trace));
    std::string previous;
    for (std::string line; std::getline(lines, line); previous = line)
        if (line.rfind("    out ", 0) == 0 && std::regex_search(previous, command))
            data.push_back(line);
    return data;
}

class WineScan : public testing::Test {
protected:
    void SetUp() override
    {
        if (std::string why = WineMissing(Loader, Prefix); !why.empty())
            GTEST_SKIP() << why;
        const testing::TestInfo *info = testing::UnitTest::GetInstance()->current_test_info();
        Dir = fs::path(SCANDRV_WINE_WORK) / (std::string(info->test_suite_name()) + "." + info->name());
        fs::remove_all(Dir);
    }

    /* A directory with scan.exe and/or SCANDRV.DLL and BUSLNK32.DLL. */
    fs::path Stage(const std::string &name, bool program = true, bool libraries = true)
    {
        fs::path dir = Dir / name;
        fs::create_directories(dir);
        for (const char *file : {"scan.exe", "SCANDRV.DLL", "BUSLNK32.DLL"})
            if (file[0] == 's' ? program : libraries)
                fs::copy_file(kWin64Build / file, dir / file);
        return dir;
    }

    /* A program run in dir, its output files named relative to it. */
    static CommandResult RunIn(const fs::path &dir, std::vector<std::string> args, std::vector<std::string> env = {})
    {
        args.insert(args.begin(), {"-c", "cd \"$0\" && exec \"$@\" --no-progress", dir.string()});
        return RunCommand("/bin/sh", args, env);
    }

    CommandResult ScanExe(const fs::path &dir, std::vector<std::string> args)
    {
        args.insert(args.begin(), {Loader, "scan.exe"});
        return RunIn(dir, args, {"WINEPREFIX=" + Prefix, "WINEDEBUG=-all", "WINEDLLOVERRIDES=mscoree,mshtml="});
    }

    /* The same scan by scan.exe under Wine and by the Linux scan command,
     * each into its own directory: both succeed and write the same bytes to
     * every file named. */
    void ScanBoth(const std::vector<std::string> &args, const std::vector<std::string> &files)
    {
        fs::path windows = Stage("windows"), linux = Stage("linux", false, false);
        std::vector<std::string> host = args;
        host.insert(host.begin(), SCANDRV_HOST_SCAN);
        CommandResult onWindows = ScanExe(windows, args), onLinux = RunIn(linux, host);
        ASSERT_EQ(onWindows.Status, 0) << onWindows.Out << onWindows.Err;
        ASSERT_EQ(onLinux.Status, 0) << onLinux.Out << onLinux.Err;
        for (const std::string &file : files) {
            std::string windowsBytes = ReadFile(windows / file), linuxBytes = ReadFile(linux / file);
            EXPECT_TRUE(windowsBytes == linuxBytes) << file << ": the Windows file (" << windowsBytes.size()
                                                    << " bytes) differs from the Linux one (" << linuxBytes.size() << ")";
            DecodedImage image;
            std::string error;
            ASSERT_TRUE(DecodePnm(windowsBytes, image, error)) << file << ": " << error;
            EXPECT_NE(size_t(std::count(image.Samples.begin(), image.Samples.end(), image.Samples[0])),
                      image.Samples.size()) << file << " is blank";
        }
    }

    std::string Loader, Prefix;
    fs::path Dir;
};

/* 8.5 x 3.5 inches of the chart: corner squares, colour patches, grey ramp
 * and steps; line art at 250 dpi, a resolution the scanner makes itself. */
TEST_F(WineScan, ImagesMatchTheLinuxCommand)
{
    const std::array<const char *, 3> cases[] = {
        {"Gray", "100", "grey.pgm"}, {"Color", "100", "colour.ppm"}, {"Lineart", "250", "lineart.pbm"}};
    for (const auto &[mode, dpi, file] : cases) {
        ScanBoth({"--mode", mode, "--resolution", dpi, "-l", "0", "-t", "0", "-x", "215.9", "-y", "88.9", "-o", file},
                 {file});
        fs::remove_all(Dir);
    }
}

/* The driver calibrates before the first page of a batch (offset and gain
 * tables) and the scanner still holds the tables for the second. */
TEST_F(WineScan, ABatchCalibratesOnceAsOnLinux)
{
    ScanBoth({"--mode", "Gray", "--resolution", "100", "-x", "215.9", "-y", "25.4", "--batch-count", "2", "-o",
              "page%d.pgm", "--trace", "trace.txt"},
             {"page1.pgm", "page2.pgm"});
    EXPECT_EQ(Sent(Dir / "windows" / "trace.txt", "shading").size(), 2u);
    EXPECT_EQ(Sent(Dir / "linux" / "trace.txt", "shading").size(), 2u);
}

/* DRVPREF.INI beside SCANDRV.DLL, which lives apart from the program: a
 * two-page colour batch of 2 x 1 inches from (4 in, 1 in), the trace
 * showing 4 KiB of every data phase, compared with the run without one. */
TEST_F(WineScan, SettingsBesideTheDriverChangeWhatItSends)
{
    struct Case {
        const char *Settings;
        bool BesideProgram;
        size_t ShadingTables;
        int SameShading, SameGamma; /* as without settings: 1 yes, 0 no, -1 either */
    };
    const Case cases[] = {
        {"", false, 2, 1, 1},
        {"[SCANNER]\r\nCalibrate=1\r\n", false, 4, -1, -1}, /* tables before each page */
        {"[scanner]\r\ncalibrate=1\r\n", false, 4, -1, -1},
        {"[SCANNER]\r\nCalibrate=1\r\n", true, 2, 1, 1}, /* beside the program: not read */
        {"[SCANNER]\r\nImage=1\r\n", false, 2, 1, 0},    /* the gamma curve without its 20 % gain */
        {"[SCANNER]\r\nRFactor=320\r\n", false, 2, 0, 1}, /* a channel factor in the shading tables */
        {"[SCANNER]\r\nBFApply=Gamma\r\nRFactor=320\r\n", false, 2, 1, 0}, /* or in the gamma curve */
    };
    std::vector<std::string> plainShading, plainGamma;
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case &c = cases[i];
        fs::path program = Stage("program" + std::to_string(i), true, false);
        fs::path driver = Stage("driver" + std::to_string(i), false, true);
        if (*c.Settings)
            WriteFile(((c.BesideProgram ? program : driver) / "DRVPREF.INI").string(), c.Settings);
        CommandResult r = ScanExe(program, {"--driver", "..\\" + driver.filename().string() + "\\SCANDRV.DLL", "-d",
                                            "..\\" + driver.filename().string() + "\\BUSLNK32.DLL", "--mode", "Color",
                                            "--resolution", "100", "-l", "101.6", "-t", "25.4", "-x", "50.8", "-y",
                                            "25.4", "--batch-count", "2", "-o", "page%d.ppm", "--trace", "trace.txt",
                                            "--sim-option", "trace_bytes=4096"});
        ASSERT_EQ(r.Status, 0) << c.Settings << r.Out << r.Err;
        std::vector<std::string> shading = Sent(program / "trace.txt", "shading"), gamma = Sent(program / "trace.txt", "gamma");
        if (i == 0) {
            plainShading = shading;
            plainGamma = gamma;
            ASSERT_FALSE(gamma.empty());
        }
        EXPECT_EQ(shading.size(), c.ShadingTables) << c.Settings;
        if (c.SameShading >= 0) {
            EXPECT_EQ(shading == plainShading, c.SameShading == 1) << c.Settings << ": shading tables";
        }
        if (c.SameGamma >= 0) {
            EXPECT_EQ(gamma == plainGamma, c.SameGamma == 1) << c.Settings << ": gamma tables";
        }
    }
}

} // namespace
