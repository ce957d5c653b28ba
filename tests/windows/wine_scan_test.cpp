/*
 * wine_scan_test.cpp - scan.exe of the 64-bit Windows build, run under Wine
 * against the virtual scanner (BUSLNK32.DLL) as a Windows user runs it: the
 * libraries found beside it or by Windows paths, the image file it writes,
 * and DRVPREF.INI read beside SCANDRV.DLL. The driver's scans of each kind
 * under Wine are tests/windows/api_test.c's; what images hold is checked on
 * Linux. Each test stages the programs in directories of its own, in the
 * Wine prefix the wine_prefix test set up; without Wine every test is skipped.
 */
#include "run_command.h"

#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

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

    /* A program run in dir, its output files named relative to it; without
     * a progress bar unless a watcher waits for it. */
    static CommandResult RunIn(const fs::path &dir, std::vector<std::string> args, std::vector<std::string> env = {},
                               const ErrWatcher &watch = nullptr)
    {
        args.insert(args.begin(), {"-c", watch ? "cd \"$0\" && exec \"$@\" --progress"
                                               : "cd \"$0\" && exec \"$@\" --no-progress", dir.string()});
        return RunCommand("/bin/sh", args, env, watch);
    }

    CommandResult ScanExe(const fs::path &dir, std::vector<std::string> args, const ErrWatcher &watch = nullptr)
    {
        args.insert(args.begin(), {Loader, "scan.exe"});
        return RunIn(dir, args, {"WINEPREFIX=" + Prefix, "WINEDEBUG=-all", "WINEDLLOVERRIDES=mscoree,mshtml="}, watch);
    }

    /* The same scan by scan.exe under Wine and by the Linux scan command,
     * each into its own directory: both succeed and write the same bytes. */
    void ScanBoth(const std::vector<std::string> &args, const std::string &file)
    {
        fs::path windows = Stage("windows"), linux = Stage("linux", false, false);
        std::vector<std::string> host = args;
        host.insert(host.begin(), SCANDRV_HOST_SCAN);
        CommandResult onWindows = ScanExe(windows, args), onLinux = RunIn(linux, host);
        ASSERT_EQ(onWindows.Status, 0) << onWindows.Out << onWindows.Err;
        ASSERT_EQ(onLinux.Status, 0) << onLinux.Out << onLinux.Err;
        std::string windowsBytes = ReadFile(windows / file), linuxBytes = ReadFile(linux / file);
        EXPECT_FALSE(linuxBytes.empty()) << file;
        EXPECT_TRUE(windowsBytes == linuxBytes) << file << ": the Windows file (" << windowsBytes.size()
                                                << " bytes) differs from the Linux one (" << linuxBytes.size() << ")";
    }

    std::string Loader, Prefix;
    fs::path Dir;
};

/* 8.5 x 3.5 inches of the chart in colour: its ramps put hundreds of 0x0A
 * and 0x1A bytes in the file, which a text-mode file would change. */
TEST_F(WineScan, AnImageMatchesTheLinuxCommand)
{
    ScanBoth({"--mode", "Color", "--resolution", "100", "-l", "0", "-t", "0", "-x", "215.9", "-y", "88.9", "-o",
              "colour.ppm"},
             "colour.ppm");
}

/* DRVPREF.INI beside SCANDRV.DLL, which lives apart from the program, and
 * not beside the program: Calibrate=1 asks for shading tables before each
 * page of a two-page colour batch, which the driver otherwise calibrates for
 * once. */
TEST_F(WineScan, SettingsBesideTheDriverChangeWhatItSends)
{
    const struct {
        const char *Settings;
        bool BesideProgram;
        size_t ShadingTables;
    } cases[] = {
        {"", false, 2},
        {"[SCANNER]\r\nCalibrate=1\r\n", false, 4},
        {"[SCANNER]\r\nCalibrate=1\r\n", true, 2},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto &c = cases[i];
        fs::path program = Stage("program" + std::to_string(i), true, false);
        fs::path driver = Stage("driver" + std::to_string(i), false, true);
        if (*c.Settings)
            WriteFile(((c.BesideProgram ? program : driver) / "DRVPREF.INI").string(), c.Settings);
        const std::string dlls = "..\\" + driver.filename().string() + "\\";
        CommandResult r = ScanExe(program, {"--driver", dlls + "SCANDRV.DLL", "-d", dlls + "BUSLNK32.DLL", "--mode",
                                            "Color", "--resolution", "100", "-l", "101.6", "-t", "25.4", "-x", "50.8",
                                            "-y", "25.4", "--batch-count", "2", "-o", "page%d.ppm", "--trace", "trace.txt"});
        ASSERT_EQ(r.Status, 0) << c.Settings << r.Out << r.Err;
        EXPECT_EQ(Sent(program / "trace.txt", "shading").size(), c.ShadingTables) << c.Settings;
    }
}

/* Wine turns SIGINT into the console's Ctrl-C: the scan stops at the next
 * line, the driver is told to abort, and no file is left, not even the
 * temporary one. */
TEST_F(WineScan, CtrlCStopsTheScanAndLeavesNoFile)
{
    fs::path dir = Stage("interrupt");
    bool sent = false;
    CommandResult run = ScanExe(dir, {"--mode", "Gray", "--resolution", "600", "-o", "scan.pgm"},
                                [&](int pid, const std::string &err) {
                                    if (!sent && Contains(err, "%"))
                                        sent = kill(pid, SIGINT) == 0;
                                });
    ASSERT_TRUE(sent) << run.Err;
    EXPECT_EQ(run.Status, 128 + SIGINT) << run.Err;
    EXPECT_TRUE(Contains(run.Err, "interrupted")) << run.Err;
    std::vector<std::string> left;
    for (const fs::directory_entry &entry : fs::directory_iterator(dir))
        left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"BUSLNK32.DLL", "SCANDRV.DLL", "scan.exe"}));
}

} // namespace
