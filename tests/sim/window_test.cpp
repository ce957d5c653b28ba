/*
 * window_test.cpp - SET WINDOW as the scanner checks it, and the geometry
 * page that follows from an accepted window.
 */
#include "sim_host.h"

#include "sim_bytes.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

struct Refusal {
    const char *What;
    std::function<void(std::vector<uint8_t> &)> Change;
    uint8_t Asc, Ascq;
};

void ExpectRefused(const char *model, const Refusal &r)
{
    SimHost host;
    host.Configure("model", model);
    WindowRequest good;
    good.Resolution = 300;
    std::vector<uint8_t> list = good.ListBytes();
    r.Change(list);
    ASSERT_EQ(host.SetWindowList(list), BUSLNK_CHECK_CONDITION) << model << ": " << r.What;
    Sense s = host.RequestSense();
    EXPECT_EQ(s[12], r.Asc) << r.What;
    EXPECT_EQ(s[13], r.Ascq) << r.What;
    uint32_t status = 0;
    host.Geometry(&status);
    EXPECT_EQ(status, BUSLNK_CHECK_CONDITION) << r.What << ": a refused window must not take effect";
}

} // namespace

TEST(Window, AcceptsAWellFormedWindow)
{
    SimHost host;
    EXPECT_EQ(host.SetWindow(WindowRequest{}), BUSLNK_GOOD);
}

TEST(Window, RefusesMalformedWindows)
{
    const Refusal refusals[] = {
        {"descriptor length 60", [](auto &l) { PutBig16(&l[6], 60); }, 0x26, 0x00},
        {"a second window", [](auto &l) { l[8] = 1; }, 0x2C, 0x01},
        {"X and Y resolutions differ", [](auto &l) { PutBig16(&l[12], 600); }, 0x2C, 0x02},
        {"resolution 10", [](auto &l) { PutBig16(&l[10], 10), PutBig16(&l[12], 10); }, 0x26, 0x02},
        {"resolution 2400", [](auto &l) { PutBig16(&l[10], 2400), PutBig16(&l[12], 2400); }, 0x26, 0x02},
        {"composition 3", [](auto &l) { l[33] = 3; }, 0x26, 0x00},
        {"colour at 1 bit", [](auto &l) { l[34] = 1; }, 0x2C, 0x02},
        {"colour at 9 bits", [](auto &l) { l[34] = 9; }, 0x2C, 0x02},
        {"threshold at 8 bits", [](auto &l) { l[33] = 0; }, 0x2C, 0x02},
        {"lens 1 of one", [](auto &l) { l[38] = 1; }, 0x26, 0x00},
        {"feeder not installed", [](auto &l) { l[39] = 0x11; }, 0x26, 0x00},
        {"unknown source code", [](auto &l) { l[39] = 0x40; }, 0x26, 0x00},
        {"calibration at 8 bits", [](auto &l) { l[39] = 0x30; }, 0x2C, 0x02},
        {"width 0", [](auto &l) { PutBig32(&l[22], 0); }, 0x26, 0x00},
        {"right edge beyond the glass", [](auto &l) { PutBig32(&l[14], 5000), PutBig32(&l[22], 101); }, 0x26, 0x00},
        {"bottom edge beyond the glass", [](auto &l) { PutBig32(&l[18], 6990), PutBig32(&l[26], 11); }, 0x26, 0x00},
        {"negative X", [](auto &l) { PutBig32(&l[14], 0xFFFFFFFF); }, 0x26, 0x00},
        {"an image window above the glass", [](auto &l) { PutBig32(&l[18], 0xFFFFFF00); }, 0x26, 0x00},
        {"narrower than one pixel at 15 dpi", [](auto &l) { PutBig16(&l[10], 15), PutBig16(&l[12], 15), PutBig32(&l[22], 30); }, 0x26, 0x00},
    };
    for (const Refusal &r : refusals)
        ExpectRefused("flatbed600", r);
}

TEST(Window, ModelLimitsDecideCompositionAndDepth)
{
    ExpectRefused("gray300", {"colour on a grey scanner", [](auto &) {}, 0x26, 0x00});
    ExpectRefused("gray300", {"12 bits on a scanner without them", [](auto &l) { l[33] = 2, l[34] = 12; }, 0x2C, 0x02});
    ExpectRefused("tagged300", {"halftone without a halftoner", [](auto &l) { l[33] = 1, l[34] = 1; }, 0x26, 0x00});
    SimHost host;
    host.Configure("model", "flatbed600");
    WindowRequest w;
    w.Depth = 12;
    EXPECT_EQ(host.SetWindow(w), BUSLNK_GOOD);
}

TEST(Window, CalibrationWindowsMayReachIntoTheReferenceAreaAboveTheGlass)
{
    SimHost host;
    WindowRequest w;
    w.SourceCode = 0x30;
    w.Depth = 16;
    w.Y = -332;
    EXPECT_EQ(host.SetWindow(w), BUSLNK_GOOD);
    w.Y = -400;
    EXPECT_EQ(host.SetWindow(w), BUSLNK_GOOD);
    w.Y = -401;
    EXPECT_EQ(host.SetWindow(w), BUSLNK_CHECK_CONDITION);
}

TEST(Window, WrongListLengthIsAParameterListLengthError)
{
    SimHost host;
    std::vector<uint8_t> list = WindowRequest{}.ListBytes();
    list.resize(70);
    EXPECT_EQ(host.Run({0x24, 0, 0, 0, 0, 0, 0, 0, 70, 0}, 2, list.data(), 70), BUSLNK_CHECK_CONDITION);
    EXPECT_EQ(host.RequestSense()[12], 0x1A);
}

TEST(Geometry, FollowsFromTheWindow)
{
    struct Case {
        const char *Model;
        WindowRequest Window;
        uint32_t Pixels, LineBytes, Lines;
    };
    auto window = [](uint16_t res, uint32_t width, uint32_t length, uint8_t composition, uint8_t depth) {
        WindowRequest w;
        w.Resolution = res;
        w.Width = width;
        w.Length = length;
        w.Composition = composition;
        w.Depth = depth;
        return w;
    };
    const Case cases[] = {
        {"flatbed600", window(600, 5100, 7000, kColor, 8), 5100, 15300, 7000},
        {"flatbed600", window(300, 601, 601, kColor, 8), 300, 900, 300},
        {"flatbed600", window(1000, 600, 60, kColor, 16), 1000, 6000, 100},
        {"flatbed600", window(250, 600, 60, kGrey, 12), 250, 500, 25},
        {"flatbed600", window(1200, 100, 10, kBilevel, 1), 200, 25, 20},
        {"flatbed600", window(80, 75, 75, kDithered, 1), 10, 2, 10},
        /* Colour-tagged segments: three of 2 + pixels bytes each. */
        {"tagged300", window(300, 2550, 3510, kColor, 8), 2550, 3 * 2552, 3510},
        {"tagged300", window(500, 300, 30, kColor, 16), 500, 3 * 1002, 50},
        {"tagged300", window(300, 300, 30, kGrey, 8), 300, 300, 30},
    };
    for (const Case &c : cases) {
        SimHost host;
        host.Configure("model", c.Model);
        ASSERT_EQ(host.SetWindow(c.Window), BUSLNK_GOOD) << c.Model << " " << c.Window.Resolution;
        std::array<uint32_t, 3> g = host.Geometry();
        EXPECT_EQ(g[0], c.Pixels) << c.Model << " " << c.Window.Resolution;
        EXPECT_EQ(g[1], c.LineBytes) << c.Model << " " << c.Window.Resolution;
        EXPECT_EQ(g[2], c.Lines) << c.Model << " " << c.Window.Resolution;
    }
}

TEST(Geometry, CalibrationLinesComeWholeEvenFromTheTaggedModel)
{
    SimHost host;
    host.Configure("model", "tagged300");
    WindowRequest w;
    w.Resolution = 300;
    w.Width = 2550;
    w.Length = 64;
    w.Y = -120;
    w.Depth = 16;
    w.SourceCode = 0x30;
    ASSERT_EQ(host.SetWindow(w), BUSLNK_GOOD);
    std::array<uint32_t, 3> g = host.Geometry();
    EXPECT_EQ(g[1], 2550u * 3 * 2);
    EXPECT_EQ(g[2], 64u);
}
