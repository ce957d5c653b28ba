/* options_test.cpp - the command line as parsed; exit codes are scan_command_test.cpp's. */
#include "loader.h"
#include "options.h"

#include <gtest/gtest.h>

namespace {

ParsedCommandLine Parse(std::vector<std::string> args)
{
    args.insert(args.begin(), "scan");
    return ParseCommandLine(args);
}

/* Mode, format, source, page count, one document or a file per page, name. */
std::string Outcome(const ScanOptions &o)
{
    return std::string(ModeName(o.Mode)) + " " + FormatName(o.Format) + " " + SourceName(o.Source) + " " +
           std::to_string(o.BatchCount) + (WritesOneDocument(o) ? " document " : " files ") + o.OutputFile;
}

TEST(Options, AcceptedCommandLines)
{
    const struct {
        std::vector<std::string> Args;
        const char *Outcome;
    } cases[] = {
        {{}, "default pnm Flatbed 0 files "}, /* the whole glass to standard output */
        {{"--depth", "1"}, "Lineart pnm Flatbed 0 files "},
        {{"--depth", "1", "--halftone-pattern", "0"}, "Halftone pnm Flatbed 0 files "},
        {{"--format", "png", "-o", "scan.jpg"}, "default png Flatbed 0 files scan.jpg"},
        {{"-o", "dir.tiff/a.PPM"}, "default pnm Flatbed 0 files dir.tiff/a.PPM"},
        {{"--batch"}, "default pnm ADF 0 files out%d.pnm"},
        {{"--batch", "--format", "pdf"}, "default pdf ADF 0 document out.pdf"},
        {{"--batch=doc.tif"}, "default tiff ADF 0 document doc.tif"},
        {{"--batch=p%02d.tif"}, "default tiff ADF 0 files p%02d.tif"},
        {{"--batch-count", "3", "-o", "p%d.png"}, "default png Flatbed 3 files p%d.png"},
        {{"--batch-count", "1", "-o", "one.png"}, "default png Flatbed 1 files one.png"},
        {{"--batch", "--source", "Transparency", "--batch-count", "2"}, "default pnm Transparency 2 files out%d.pnm"},
    };
    for (const auto &c : cases) {
        ParsedCommandLine p = Parse(c.Args);
        ASSERT_TRUE(p.Ok) << p.Error;
        EXPECT_EQ(Outcome(p.Options), c.Outcome);
    }
}

TEST(Options, ValuesInEverySpelling)
{
    ParsedCommandLine p = Parse({"--mode=gray", "--resolution", "300dpi", "-l", "10", "-t12.5mm", "-x", "50", "-y",
                                 "0.5", "--brightness", "-128", "--contrast=127", "-o", "out.TIF", "-pv", "-dsim:2",
                                 "--source", "adf", "--lens", "1", "--batch", "--batch-start", "5", "--batch-increment", "2"});
    ASSERT_TRUE(p.Ok) << p.Error;
    const ScanOptions &o = p.Options;
    EXPECT_EQ(std::tie(*o.LeftMm, *o.TopMm, *o.WidthMm, *o.HeightMm), std::make_tuple(10.0, 12.5, 50.0, 0.5));
    EXPECT_EQ(std::tie(o.Resolution, o.Brightness, o.Contrast, o.Progress, o.Verbose, *o.Lens, o.BatchStart, o.BatchIncrement),
              std::make_tuple(300u, -128, 127, 1, true, 1, 5u, 2u));
    EXPECT_TRUE(o.Mode == ScanMode::Gray && o.Format == ImageFormat::Tiff && o.Source == ScanSource::Adf);
    EXPECT_EQ(o.Device, "sim:2");
}

TEST(Options, RefusedCommandLines)
{
    const struct {
        std::vector<std::string> Args;
        const char *Message;
    } cases[] = {
        {{"--mode", "Sepia"}, "--mode takes Color, Gray, Lineart or Halftone"},
        {{"--resolution", "0"}, "--resolution takes dots per inch"},
        {{"--resolution", "70000"}, "--resolution takes dots per inch"}, /* past 16 bits */
        {{"--resolution", "300x"}, "--resolution takes dots per inch"},
        {{"-l", "-5"}, "-l must not be negative"},
        {{"-t", "nan"}, "-t takes a length in millimetres"},
        {{"-o", "dir.png/scan"}, "cannot tell the image format"}, /* a directory's extension is not the file's */
        {{"--brightness", "128"}, "--brightness takes a whole number from -128 to 127"},
        {{"--halftone-pattern", "12"}, "--halftone-pattern takes a built-in pattern number from 0 to 11"},
        {{"--highlight", "256"}, "--highlight takes a level from 0 to 255"},
        {{"--shadow", "255"}, "--shadow 255 must lie below --highlight 255"}, /* the unset highlight */
        {{"--shadow", "90", "--highlight", "90"}, "--shadow 90 must lie below --highlight 90"},
        {{"--highlight", "200", "--midtone", "200"}, "--midtone 200 must lie between the shadow and highlight levels, 0 and 200"},
        {{"--mode", "Color", "--depth", "1"}, "--depth 1 gives a bilevel image"},
        {{"--mode", "Lineart", "--depth", "16"}, "--mode Lineart gives 1 bit per pixel"},
        {{"--mode", "Gray", "--halftone-pattern", "2"}, "--halftone-pattern goes with --mode Halftone"},
        {{"--batch-count", "2", "-o", "a.png"}, "'a.png' has no %d for the page number"},
        {{"--batch=a%d.pdf"}, "a PDF holds the whole batch: name it without %d"},
        {{"--batch=p%d.png", "-o", "x.png"}, "both name the output"},
        {{"--batch", "--source", "Flatbed"}, "a batch from the flatbed needs --batch-count N"},
        {{"--jpeg-quality", "50", "-o", "a.png"}, "--jpeg-quality goes with --format pdf"},
        {{"--preview", "--batch"}, "--preview scans the glass once"},
        {{"--lamp-timer", "7621"}, "--lamp-timer takes seconds from 0 to 7620"},
        {{"--sim-option", "noise"}, "--sim-option takes KEY=VALUE"},
        {{"--colour"}, "unknown option '--colour'"},
        {{"-q"}, "unknown option '-q'"},
        {{"--help=yes"}, "option '--help' takes no value"},
        {{"--resolution"}, "option '--resolution' needs a value"},
        {{"-o"}, "option '-o' needs a value"},
        {{"--", "-o"}, "unexpected argument '-o'"},
    };
    for (const auto &c : cases) {
        ParsedCommandLine p = Parse(c.Args);
        EXPECT_FALSE(p.Ok) << c.Message;
        EXPECT_NE(p.Error.find(c.Message), std::string::npos) << p.Error;
    }
}

TEST(Options, MillimetresAndBatchFileNames)
{
    EXPECT_EQ(MillimetresToMils(215.9), 8500u) << "rounded, not cut: 8499.99";
    EXPECT_EQ(BatchFileName("page%03d.png", 1234), "page1234.png");
    EXPECT_EQ(BatchFileName("d%d/p%d.png", 2), "d2/p%d.png") << "the first %d only";
    EXPECT_EQ(BatchFileName("100%.png", 1), "100%.png");
    EXPECT_FALSE(HasPageNumber("a%x.png"));
}

TEST(DeviceNames, NamesPathsAndAttachValues)
{
    /* Plain names are proven by the command's runs against sim:N, null and sg: names. */
    const struct {
        const char *Name, *Adapter;
        uint16_t Param1, Param2;
        bool Virtual, ScsiGeneric;
    } cases[] = {
        {"sim:2", "/opt/bin/libbuslnk32.so.1", 2, 0, true, false},
        {"/usr/lib/sg:1/libbuslnk32.so.1:1,5", "/usr/lib/sg:1/libbuslnk32.so.1", 1, 5, false, false},
        {"sg:2,0,5", "/opt/bin/adapters/sg/libbuslnk32.so.1", 0, 0, false, true},
        {"/dev/null", "/opt/bin/adapters/sg/libbuslnk32.so.1", 0, 0, false, true}, /* a device node */
    };
    std::string error;
    for (const auto &c : cases) {
        DeviceAddress a;
        ASSERT_TRUE(ParseDeviceName(c.Name, "/opt/bin", a, error)) << c.Name << ": " << error;
        EXPECT_EQ(a.AdapterPath, c.Adapter) << c.Name;
        if (!c.ScsiGeneric) { /* the adapter turns an sg name into attach values */
            EXPECT_EQ(std::tie(a.AttachParam1, a.AttachParam2), std::tie(c.Param1, c.Param2)) << c.Name;
        }
        EXPECT_EQ(std::tie(a.IsVirtual, a.IsScsiGeneric), std::tie(c.Virtual, c.ScsiGeneric)) << c.Name;
    }
    DeviceAddress a;
    for (const char *bad : {"scanner", "sim:", "sim:x", "sim:70000", "sim:1,2,3", ":1"}) {
        EXPECT_FALSE(ParseDeviceName(bad, "/opt/bin", a, error)) << bad;
    }
}

} // namespace
