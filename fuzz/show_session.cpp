/*
 * show_session.cpp - prints what a fuzz input scripts and what the session
 * did with it: the scanner's answers, the two scan requests, every command
 * the scanner saw, and the promises the driver broke.
 *     fuzz_show_session FILE...
 */
#include "session.h"

#include <cstdio>
#include <fstream>
#include <iterator>

using namespace fuzzsession;

static void Show(const SessionScript &s)
{
    std::printf("inquiry %u/%u/%u model %u  settings gamma %u image %d calibrate %d factors %u %u %u\n",
                s.InquiryType, s.InquiryVersion, s.InquiryFormat, s.Model, s.ApplyInGamma, s.ImageSetting,
                s.CalibrateSetting, s.Factor[0], s.Factor[1], s.Factor[2]);
    for (int i = 0; i < kPageSlots; ++i) {
        std::printf("page %d%s:", i, i < s.PageCount ? "" : " (unused)");
        for (uint8_t b : s.Page[i])
            std::printf(" %02X", b);
        std::printf("\nlamp %d%s:", i, i < s.LampCount ? "" : " (unused)");
        for (uint8_t b : s.Lamp[i])
            std::printf(" %02X", b);
        const GeometrySlot &g = s.Geometry[i];
        std::printf("\ngeometry %d%s: mode %u pixels %u bytes %u lines %u\n", i,
                    i < s.GeometryCount ? "" : " (unused)", g.Mode, g.Pixels, g.LineBytes, g.Lines);
    }
    std::printf("tags %u gap %u script %.*s  read limit %u  order 0x%02X lens %u\n", s.Tags, s.TagGap,
                s.TagScriptLength < 8 ? s.TagScriptLength : 8, reinterpret_cast<const char *>(s.TagScript),
                s.ReadLimit, s.Order, s.Lens);
    for (int i = 0; i < s.FaultCount && i < kFaultSlots; ++i) {
        const Fault &f = s.Faults[i];
        std::printf("fault: command %u status %u sense %02X/%02X info %u sense status %u data %u\n", f.Command,
                    f.Status, f.Asc, f.Ascq, f.Information, f.SenseStatus, f.DataLimit);
    }
    for (int k = 0; k < 2; ++k) {
        const ScanRequest &r = s.Scan[k];
        std::printf("scan %d: type %u source %u bits %u halftone %u/%u size %u res %u area %u,%u-%u,%u flags 0x%X "
                    "gamma scale %u pointers %u calls %u:",
                    k, r.ImageType, r.ScanSource, r.BitsPerPixel, r.HalftoneMode, r.HalftonePattern, r.PatternSize,
                    r.Resolution, r.Left, r.Top, r.Right, r.Bottom, r.Flags, r.GammaScale, r.Pointers, r.Calls);
        for (int i = 0; i < r.Calls && i < kRequestSlots; ++i)
            std::printf(" %u", r.Request[i]);
        std::printf("\n");
    }
}

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        std::ifstream file(argv[i], std::ios::binary);
        std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        std::printf("== %s (%zu bytes)\n", argv[i], bytes.size());
        Show(DecodeSession(bytes.data(), bytes.size()));
        const SessionOutcome outcome = RunSession(bytes.data(), bytes.size());
        std::printf("commands:");
        for (size_t n = 0; n < outcome.Commands.size(); ++n)
            std::printf(" %zu:%02X/%02X/%u", n + 1, outcome.Commands[n].Opcode, outcome.Commands[n].DataType,
                        outcome.Commands[n].Length);
        std::printf("\ninit %d, starts %d %d, lines %u/%u and %u/%u\n", static_cast<int16_t>(outcome.InitResult),
                    static_cast<int16_t>(outcome.StartResult[0]), static_cast<int16_t>(outcome.StartResult[1]),
                    outcome.LinesDelivered[0], outcome.LinesPromised[0], outcome.LinesDelivered[1],
                    outcome.LinesPromised[1]);
        for (const std::string &failure : outcome.Failures)
            std::printf("BROKEN: %s\n", failure.c_str());
    }
    return 0;
}
