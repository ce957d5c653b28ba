/*
 * wine_scan_test.cpp - scan.exe of the 64-bit Windows build, run under Wine
 * against the virtual scanner (BUSLNK32.DLL), as a Windows user runs it:
 * grey, colour and line art images compared with the Linux scan command's
 * images of the same chart and with the chart's known patches; a two-page
 * batch of which only the first page is calibrated; and DRVPREF.INI beside
 * SCANDRV.DLL changing what the driver sends.
 *
 * Each test copies the programs into a directory of its own. The Wine
 * prefix is the one the wine_prefix test set up for the run; without Wine
 * every test is skipped.
 */
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

/* --- Running programs ---------------------------------------------------- */

struct RunResult {
    int Status = -1;    /* exit status, or -1 when the program did not run */
    std::string Output; /* standard output and standard error */
};

/* Runs argv in dir with extra environment variables, collecting its output. */
RunResult RunProgram(const fs::path &dir, const std::vector<std::string> &argv,
              const std::map<std::string, std::string> &environment = {})
{
    RunResult result;
    fs::path log = dir / "output.log";
    pid_t child = fork();
    if (child == 0) {
        int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || chdir(dir.c_str()) != 0)
            _exit(127);
        dup2(fd, 1);
        dup2(fd, 2);
        for (const auto &[name, value] : environment)
            setenv(name.c_str(), value.c_str(), 1);
        std::vector<char *> args;
        for (const std::string &arg : argv)
            args.push_back(const_cast<char *>(arg.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status))
        result.Status = WEXITSTATUS(status);
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    result.Output = text.str();
    return result;
}

/* The Wine this run uses, or an empty path with the reason. */
struct Wine {
    fs::path Loader;
    std::string Prefix;
    std::string Missing;
};

const Wine &FindWine()
{
    static Wine wine = [] {
        Wine w;
        std::vector<fs::path> candidates = {"/usr/lib/wine/wine64"};
        if (const char *env = std::getenv("WINE64"))
            candidates.insert(candidates.begin(), env);
        for (const char *dir : {"/usr/bin", "/usr/local/bin"})
            candidates.push_back(fs::path(dir) / "wine64");
        for (const fs::path &candidate : candidates)
            if (access(candidate.c_str(), X_OK) == 0) {
                w.Loader = candidate;
                break;
            }
        if (w.Loader.empty()) {
            w.Missing = "64-bit Wine is not installed (Debian: apt-get install wine64; tools/install-deps does it)";
            return w;
        }
        std::ifstream state(SCANDRV_WINE_STATE);
        std::getline(state, w.Prefix);
        if (w.Prefix.empty() || !fs::is_directory(w.Prefix))
            w.Missing = "no Wine prefix in " SCANDRV_WINE_STATE " (the wine_prefix test sets it up)";
        return w;
    }();
    return wine;
}

/* --- Images and traces --------------------------------------------------- */

struct Pnm {
    std::string Magic; /* P4 bilevel, P5 grey, P6 colour */
    unsigned Width = 0, Height = 0, MaxValue = 1;
    std::vector<uint8_t> Data;

    unsigned Channels() const { return Magic == "P6" ? 3 : 1; }
    size_t RowBytes() const { return Magic == "P4" ? (Width + 7) / 8 : size_t{Width} * Channels(); }
    /* A sample of an 8-bit image. */
    uint8_t At(unsigned x, unsigned y, unsigned channel = 0) const
    {
        return Data.at(y * RowBytes() + size_t{x} * Channels() + channel);
    }
    /* A pixel of a bilevel image: true for black. */
    bool Black(unsigned x, unsigned y) const { return Data.at(y * RowBytes() + x / 8) & (0x80 >> (x % 8)); }
    /* The mean of one channel over a rectangle of an 8-bit image. */
    double Mean(unsigned x0, unsigned y0, unsigned x1, unsigned y1, unsigned channel = 0) const
    {
        double sum = 0;
        for (unsigned y = y0; y < y1; ++y)
            for (unsigned x = x0; x < x1; ++x)
                sum += At(x, y, channel);
        return sum / ((x1 - x0) * (y1 - y0));
    }
};

std::string ReadFile(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

/* Reads a binary PNM file (comments allowed in the header); an empty Magic
 * when it is not one. */
Pnm ReadPnm(const fs::path &path)
{
    Pnm image;
    std::string bytes = ReadFile(path);
    size_t at = 0;
    /* The next header field: white space and "#" comments skipped. */
    auto field = [&]() {
        while (at < bytes.size() && (std::isspace(static_cast<unsigned char>(bytes[at])) || bytes[at] == '#')) {
            if (bytes[at] == '#')
                at = bytes.find('\n', at);
            else
                ++at;
        }
        size_t start = at;
        while (at < bytes.size() && !std::isspace(static_cast<unsigned char>(bytes[at])))
            ++at;
        return bytes.substr(start, at - start);
    };
    image.Magic = field();
    if (image.Magic != "P4" && image.Magic != "P5" && image.Magic != "P6") {
        image.Magic.clear();
        return image;
    }
    image.Width = static_cast<unsigned>(std::atoi(field().c_str()));
    image.Height = static_cast<unsigned>(std::atoi(field().c_str()));
    if (image.Magic != "P4")
        image.MaxValue = static_cast<unsigned>(std::atoi(field().c_str()));
    ++at; /* the one white space character before the samples */
    if (at > bytes.size() || image.Width == 0 || image.Height == 0) {
        image.Magic.clear();
        return image;
    }
    image.Data.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.end());
    if (image.Data.size() != image.RowBytes() * image.Height)
        image.Magic.clear();
    return image;
}

/* The virtual scanner's trace: one "#N KIND cdb ..." line per command,
 * then its data phases ("    out N bytes: ..."). */
struct Trace {
    std::vector<std::string> Lines;

    size_t Count(const std::string &kind) const
    {
        return std::count_if(Lines.begin(), Lines.end(), [&](const std::string &line) {
            return std::regex_search(line, std::regex("^#[0-9]+ " + kind + " cdb"));
        });
    }
    /* The data phases sent with the commands of a kind, in order. */
    std::vector<std::string> DataOf(const std::string &kind) const
    {
        std::vector<std::string> data;
        std::regex command("^#[0-9]+ " + kind + " cdb");
        for (size_t i = 0; i + 1 < Lines.size(); ++i)
            if (std::regex_search(Lines[i], command) && Lines[i + 1].rfind("    out ", 0) == 0)
                data.push_back(Lines[i + 1]);
        return data;
    }
};

Trace ReadTrace(const fs::path &path)
{
    Trace trace;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        trace.Lines.push_back(line);
    }
    return trace;
}

/* --- The fixture --------------------------------------------------------- */

const fs::path kWin64Build = SCANDRV_WIN64_BUILD;
const fs::path kWork = SCANDRV_WINE_WORK;
const fs::path kLinuxScan = SCANDRV_HOST_SCAN;

/* The virtual scanner alike on both sides: the default model and sensor,
 * noise that repeats from run to run. */
const std::vector<std::string> kChartArea = {"-l", "0", "-t", "0", "-x", "215.9", "-y", "88.9"};

class WineScan : public ::testing::Test {
protected:
    void SetUp() override
    {
        const Wine &wine = FindWine();
        if (!wine.Missing.empty())
            GTEST_SKIP() << wine.Missing;
        const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
        Dir = kWork / (std::string(info->test_suite_name()) + "." + info->name());
        fs::remove_all(Dir);
        fs::create_directories(Dir);
    }

    /* A directory with scan.exe, SCANDRV.DLL and BUSLNK32.DLL. */
    fs::path Stage(const std::string &name, bool program = true, bool libraries = true)
    {
        fs::path dir = Dir / name;
        fs::create_directories(dir);
        if (program)
            fs::copy_file(kWin64Build / "scan.exe", dir / "scan.exe");
        if (libraries) {
            fs::copy_file(kWin64Build / "SCANDRV.DLL", dir / "SCANDRV.DLL");
            fs::copy_file(kWin64Build / "BUSLNK32.DLL", dir / "BUSLNK32.DLL");
        }
        return dir;
    }

    static RunResult ScanExe(const fs::path &dir, std::vector<std::string> args, const std::string &program = "scan.exe")
    {
        const Wine &wine = FindWine();
        args.insert(args.begin(), {wine.Loader.string(), program, "--no-progress"});
        return RunProgram(dir, args,
                   {{"WINEPREFIX", wine.Prefix}, {"WINEDEBUG", "-all"}, {"WINEDLLOVERRIDES", "mscoree,mshtml="}});
    }

    static RunResult LinuxScan(const fs::path &dir, std::vector<std::string> args)
    {
        args.insert(args.begin(), {kLinuxScan.string(), "--no-progress"});
        return RunProgram(dir, args);
    }

    /* The same scan by scan.exe under Wine and by the Linux scan command,
     * each into its own directory; both must succeed and give the same
     * bytes. Returns the Windows image. */
    Pnm ScanBoth(const std::string &file, const std::vector<std::string> &options)
    {
        fs::path windows = Stage("windows");
        fs::path linux = Dir / "linux";
        fs::create_directories(linux);
        std::vector<std::string> args = options;
        args.insert(args.end(), {"-o", file});
        RunResult onWindows = ScanExe(windows, args);
        RunResult onLinux = LinuxScan(linux, args);
        EXPECT_EQ(onWindows.Status, 0) << onWindows.Output;
        EXPECT_EQ(onLinux.Status, 0) << onLinux.Output;
        std::string windowsBytes = ReadFile(windows / file), linuxBytes = ReadFile(linux / file);
        EXPECT_FALSE(windowsBytes.empty());
        EXPECT_TRUE(windowsBytes == linuxBytes) << file << ": the Windows image (" << windowsBytes.size()
                                                << " bytes) differs from the Linux one (" << linuxBytes.size()
                                                << " bytes)";
        return ReadPnm(windows / file);
    }

    fs::path Dir;
};

/* --- Images of the chart ------------------------------------------------- */

/* 8.5 x 3.5 inches of the chart at 100 dpi: the corner squares, the colour
 * patches, the grey ramp and the sixteen grey steps. */
TEST_F(WineScan, GreyImageMatchesLinuxAndChart)
{
    std::vector<std::string> options = {"--mode", "Gray", "--resolution", "100"};
    options.insert(options.end(), kChartArea.begin(), kChartArea.end());
    Pnm image = ScanBoth("grey.pgm", options);
    ASSERT_EQ(image.Magic, "P5");
    ASSERT_EQ(image.Width, 850u);
    ASSERT_EQ(image.Height, 350u);
    EXPECT_EQ(image.MaxValue, 255u);
    EXPECT_LT(image.Mean(3, 3, 22, 22), 40) << "the black square at the top left";
    EXPECT_GT(image.Mean(400, 5, 420, 20), 200) << "paper";
    /* The steps at y 2.75-3.25 inch, 0.4 inch each from x 0.5, are 17 k
     * apart; the driver's gamma curve adds 20 %, so they read evenly spaced
     * by about 20 (the calibrated white sits a little below full scale) up
     * to white, which the last three reach. */
    auto step = [&](unsigned k) {
        unsigned x = 50 + k * 40 + 10;
        return image.Mean(x, 280, x + 20, 320);
    };
    EXPECT_LT(step(0), 2);
    EXPECT_NEAR(step(1), 20, 2);
    for (unsigned k = 2; k < 13; ++k)
        EXPECT_NEAR(step(k), k * step(1), 2) << "grey step " << k;
    for (unsigned k = 13; k < 16; ++k)
        EXPECT_GT(step(k), 254) << "grey step " << k;
}

TEST_F(WineScan, ColourImageMatchesLinuxAndChart)
{
    std::vector<std::string> options = {"--mode", "Color", "--resolution", "100"};
    options.insert(options.end(), kChartArea.begin(), kChartArea.end());
    Pnm image = ScanBoth("colour.ppm", options);
    ASSERT_EQ(image.Magic, "P6");
    ASSERT_EQ(image.Width, 850u);
    ASSERT_EQ(image.Height, 350u);
    /* Patches of 0.75 inch from x 0.5, y 0.5-1.5: red, green, blue. */
    struct Patch {
        const char *Name;
        unsigned X;
        unsigned Strong;
    } patches[] = {{"red", 55, 0}, {"green", 130, 1}, {"blue", 205, 2}};
    for (const Patch &patch : patches)
        for (unsigned channel = 0; channel < 3; ++channel) {
            double mean = image.Mean(patch.X + 10, 70, patch.X + 50, 130, channel);
            if (channel == patch.Strong)
                EXPECT_GT(mean, 150) << patch.Name << " patch, channel " << channel;
            else
                EXPECT_LT(mean, 90) << patch.Name << " patch, channel " << channel;
        }
    /* The red square at the top right reads red, not mirrored to the left. */
    EXPECT_GT(image.Mean(790, 5, 820, 20, 0), 150);
    EXPECT_LT(image.Mean(790, 5, 820, 20, 1), 90);
}

/* Line art at 250 dpi, a resolution the scanner makes itself. */
TEST_F(WineScan, LineArtMatchesLinuxAndChart)
{
    std::vector<std::string> options = {"--mode", "Lineart", "--resolution", "250"};
    options.insert(options.end(), kChartArea.begin(), kChartArea.end());
    Pnm image = ScanBoth("lineart.pbm", options);
    ASSERT_EQ(image.Magic, "P4");
    ASSERT_EQ(image.Width, 2125u);
    ASSERT_EQ(image.Height, 875u);
    EXPECT_TRUE(image.Black(10, 10)) << "the black square";
    EXPECT_TRUE(image.Black(60, 60));
    EXPECT_FALSE(image.Black(70, 10)) << "paper beside the square";
    EXPECT_FALSE(image.Black(1000, 60)) << "paper";
    EXPECT_TRUE(image.Black(1340, 200)) << "the black patch, 5-5.75 inch across";
    EXPECT_FALSE(image.Black(1340, 100)) << "paper above it";
}

/* A batch of two pages: the driver calibrates before the first (the white
 * and dark passes, then an offset and a gain table), and the scanner still
 * holds the tables for the second. Both pages come out free of the
 * sensor's streaks and as the Linux command scans them. */
TEST_F(WineScan, BatchCalibratesOnceAndMatchesLinux)
{
    fs::path windows = Stage("windows");
    fs::path linux = Dir / "linux";
    fs::create_directories(linux);
    std::vector<std::string> args = {"--mode", "Gray", "--resolution", "100", "-x", "215.9", "-y", "25.4",
                                     "--batch-count", "2", "-o", "page%d.pgm", "--trace", "trace.txt"};
    RunResult onWindows = ScanExe(windows, args);
    RunResult onLinux = LinuxScan(linux, args);
    ASSERT_EQ(onWindows.Status, 0) << onWindows.Output;
    ASSERT_EQ(onLinux.Status, 0) << onLinux.Output;

    Trace trace = ReadTrace(windows / "trace.txt");
    EXPECT_EQ(trace.Count("shading"), 2u) << "offset and gain tables sent once";
    EXPECT_EQ(trace.Count("shading"), ReadTrace(linux / "trace.txt").Count("shading"));
    for (const char *page : {"page1.pgm", "page2.pgm"}) {
        EXPECT_TRUE(ReadFile(windows / page) == ReadFile(linux / page)) << page << " differs from the Linux scan";
        Pnm image = ReadPnm(windows / page);
        ASSERT_EQ(image.Magic, "P5") << page;
        ASSERT_EQ(image.Width, 850u);
        ASSERT_EQ(image.Height, 100u);
        /* Paper between the corner squares and above the patches: every
         * column within a few levels of the others once the correction is
         * applied. */
        double lowest = 255, highest = 0;
        for (unsigned x = 300; x < 700; ++x) {
            double column = image.Mean(x, 28, x + 1, 46);
            lowest = std::min(lowest, column);
            highest = std::max(highest, column);
        }
        EXPECT_LT(highest - lowest, 8) << page << ": streaks across the paper";
    }
}

/* --- The settings file --------------------------------------------------- */

/* What a two-page colour batch with the trace on came to. */
struct SettingsRun {
    RunResult Result;
    Trace Log;
    Pnm Page1;
};

class DriverSettings : public WineScan {
protected:
    /* The batch in a staged directory with the given DRVPREF.INI beside the
     * driver (none when empty). */
    SettingsRun ScanWith(const std::string &name, const std::string &settings)
    {
        fs::path dir = Stage(name);
        if (!settings.empty())
            std::ofstream(dir / "DRVPREF.INI") << "[SCANNER]\r\n" << settings;
        return Collect(dir, {});
    }

    /* Two inches by one of the chart in colour from (4 in, 1 in): colour
     * patches above, the grey ramp below. The trace shows 4 KiB of every
     * data phase, enough to tell tables apart. */
    SettingsRun Collect(const fs::path &dir, const std::vector<std::string> &extra)
    {
        std::vector<std::string> args = {"--mode", "Color", "--resolution", "100", "-l", "101.6", "-t", "25.4",
                                         "-x", "50.8", "-y", "25.4", "--batch-count", "2", "-o", "page%d.ppm",
                                         "--trace", "trace.txt", "--sim-option", "trace_bytes=4096"};
        args.insert(args.end(), extra.begin(), extra.end());
        SettingsRun run;
        run.Result = ScanExe(dir, args);
        run.Log = ReadTrace(dir / "trace.txt");
        run.Page1 = ReadPnm(dir / "page1.ppm");
        EXPECT_EQ(run.Result.Status, 0) << run.Result.Output;
        return run;
    }
};

TEST_F(DriverSettings, CalibrateOneCalibratesEveryPage)
{
    SettingsRun plain = ScanWith("plain", "");
    SettingsRun forced = ScanWith("forced", "Calibrate=1\r\n");
    EXPECT_EQ(plain.Log.Count("shading"), 2u);
    EXPECT_EQ(forced.Log.Count("shading"), 4u) << "offset and gain tables before each page";
}

/* Image=1 takes the 20 % gain out of the gamma curve: other tables, a
 * darker page. */
TEST_F(DriverSettings, ImageOneDropsTheGammaGain)
{
    SettingsRun plain = ScanWith("plain", "");
    SettingsRun image = ScanWith("image", "Image=1\r\n");
    ASSERT_FALSE(plain.Log.DataOf("gamma").empty());
    EXPECT_NE(plain.Log.DataOf("gamma"), image.Log.DataOf("gamma"));
    EXPECT_EQ(plain.Log.DataOf("shading"), image.Log.DataOf("shading"));
    ASSERT_EQ(plain.Page1.Magic, "P6");
    ASSERT_EQ(image.Page1.Magic, "P6");
    for (unsigned channel = 0; channel < 3; ++channel)
        EXPECT_LT(image.Page1.Mean(0, 0, image.Page1.Width, image.Page1.Height, channel),
                  plain.Page1.Mean(0, 0, plain.Page1.Width, plain.Page1.Height, channel) - 5)
            << "channel " << channel;
}

/* A channel factor goes into the shading tables by default, and into the
 * gamma curve with BFApply other than "Shading". Red comes first in both. */
TEST_F(DriverSettings, ChannelFactorGoesWhereBFApplySays)
{
    SettingsRun plain = ScanWith("plain", "");
    SettingsRun shading = ScanWith("shading", "RFactor=320\r\n");
    SettingsRun gamma = ScanWith("gamma", "BFApply=Gamma\r\nRFactor=320\r\n");
    ASSERT_EQ(plain.Log.DataOf("shading").size(), 2u);
    EXPECT_NE(shading.Log.DataOf("shading"), plain.Log.DataOf("shading"));
    EXPECT_EQ(shading.Log.DataOf("gamma"), plain.Log.DataOf("gamma"));
    EXPECT_EQ(gamma.Log.DataOf("shading"), plain.Log.DataOf("shading"));
    EXPECT_NE(gamma.Log.DataOf("gamma"), plain.Log.DataOf("gamma"));
}

/* The file is read beside SCANDRV.DLL, wherever the program is: here the
 * driver lives in a directory of its own. */
TEST_F(DriverSettings, FileBesideTheDriverCountsNotBesideTheProgram)
{
    fs::path program = Stage("program", true, false);
    fs::path driver = Stage("driver", false, true);
    std::vector<std::string> libraries = {"--driver", "..\\driver\\SCANDRV.DLL", "-d", "..\\driver\\BUSLNK32.DLL"};

    std::ofstream(program / "DRVPREF.INI") << "[SCANNER]\r\nCalibrate=1\r\n";
    SettingsRun besideProgram = Collect(program, libraries);
    EXPECT_EQ(besideProgram.Log.Count("shading"), 2u) << "a settings file beside the program was read";

    fs::remove(program / "DRVPREF.INI");
    fs::remove(program / "trace.txt");
    std::ofstream(driver / "DRVPREF.INI") << "[scanner]\r\ncalibrate=1\r\n";
    SettingsRun besideDriver = Collect(program, libraries);
    EXPECT_EQ(besideDriver.Log.Count("shading"), 4u) << "the settings file beside the driver was not read";
}

} // namespace
