/*
 * tone_test.cpp - the tone curve a window sets (brightness, contrast,
 * shadow, midtone and highlight levels) and where the scanner applies it:
 * after the correction and before gamma, per colour row, never to
 * calibration windows.
 */
#include "sim_host.h"

#include <numeric>

namespace {

std::vector<uint16_t> Response(const SimTone &tone, const std::vector<uint16_t> &gamma)
{
    std::vector<uint16_t> response(65536);
    BuildToneResponse(tone, gamma.data(), response.data());
    return response;
}

std::vector<uint16_t> Straight()
{
    std::vector<uint16_t> gamma(65536);
    std::iota(gamma.begin(), gamma.end(), uint16_t(0));
    return gamma;
}

} // namespace

TEST(Tone, CurvesMapLevelsByTheirRules)
{
    struct Case {
        const char *What;
        SimTone Tone; /* brightness, contrast, shadow, midtone, highlight */
        uint8_t Input;
        uint16_t Output; /* within 1 */
    };
    const Case cases[] = {
        {"shadow clips", {128, 128, 64, 128, 192}, 64, 0},
        {"highlight clips", {128, 128, 64, 128, 192}, 192, 65535},
        {"between them a straight line", {128, 128, 64, 128, 192}, 96, 16384},
        /* The midtone becomes middle grey through a power curve. */
        {"midtone 64", {128, 128, 0, 64, 255}, 64, 32768},
        {"midtone 64, black stays", {128, 128, 0, 64, 255}, 0, 0},
        {"midtone 64, white stays", {128, 128, 0, 64, 255}, 255, 65535},
        {"levels without a span threshold at the shadow", {128, 128, 100, 128, 100}, 99, 0},
        {"levels without a span, at the shadow", {128, 128, 100, 128, 100}, 100, 65535},
        {"contrast 0 is flat", {128, 0, 0, 128, 255}, 0, 32768},
        {"contrast 0 is flat, white", {128, 0, 0, 128, 255}, 255, 32768},
        /* (0.5 + (64 / 255 - 0.5) x 1.5) x 65535 */
        {"contrast 192 steepens by half", {128, 192, 0, 128, 255}, 64, 8288},
        {"brightness 255", {255, 128, 0, 128, 255}, 0, 32512},
        {"brightness 0 clips", {0, 128, 0, 128, 255}, 100, 0},
    };
    const std::vector<uint16_t> straight = Straight();
    for (const Case &c : cases) {
        const std::vector<uint16_t> response = Response(c.Tone, straight);
        EXPECT_NEAR(response[c.Input * 257], c.Output, 1) << c.What;
        EXPECT_TRUE(std::is_sorted(response.begin(), response.end())) << c.What << ": the curve never falls";
    }
    /* After the curve comes the gamma table: neutral controls leave it as it
     * is, and a brightened sample is looked up where it lands. */
    std::vector<uint16_t> reversed(straight.rbegin(), straight.rend());
    EXPECT_EQ(Response(SimTone(), reversed), reversed);
    EXPECT_NEAR(Response({255, 128, 0, 128, 255}, reversed)[0], 65535 - 32512, 1);
}

TEST(Tone, WindowsCarryItPerRowAndCalibrationIgnoresIt)
{
    SimHost host = IdealHost();
    auto scan = [&](const WindowRequest &w, const std::function<void(std::vector<uint8_t> &)> &edit) {
        std::vector<uint8_t> list = w.ListBytes();
        edit(list);
        EXPECT_EQ(host.SetWindowList(list), BUSLNK_GOOD);
        std::array<uint32_t, 3> g = host.Geometry();
        return host.ReadImage(g[1] * g[2]);
    };
    WindowRequest colour;
    colour.Width = 60, colour.Length = 6, colour.Y = 1200;
    const std::vector<uint8_t> plain = scan(colour, [](auto &) {});
    /* Contrast 0 in the green group only; the descriptor's bytes are a
     * single-channel window's. */
    const std::vector<uint8_t> greenFlat = scan(colour, [](auto &l) { l[58] = 0, l[30] = l[32] = 0; });
    for (size_t i = 0; i < plain.size(); ++i)
        EXPECT_EQ(greenFlat[i], i % 3 == 1 ? 128 : plain[i]) << "byte " << i;

    WindowRequest grey = colour;
    grey.Composition = kGrey;
    const std::vector<uint8_t> greyFlat = scan(grey, [](auto &l) { l[32] = 0; });
    EXPECT_EQ(greyFlat, std::vector<uint8_t>(greyFlat.size(), 128));

    WindowRequest raw = colour;
    raw.Depth = 16, raw.SourceCode = 0x30;
    const std::vector<uint8_t> rawPlain = scan(raw, [](auto &) {});
    EXPECT_EQ(scan(raw, [](auto &l) { l[51] = l[57] = l[63] = 0; }), rawPlain);
}
