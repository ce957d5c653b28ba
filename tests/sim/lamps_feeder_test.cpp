/*
 * lamps_feeder_test.cpp - the LampStatusPage on the device's clock and the
 * document feeder's pages. A batch through the driver (tests/scan) proves
 * the numbered pages, the empty tray and a jam costing one page.
 */
#include "sim_host.h"

#include "../support/page_number.h"

namespace {

using Page = std::array<uint8_t, 9>;

SimHost ManualClockHost(const char *model = "flatbed600")
{
    SimHost host;
    host.Configure("model", model);
    host.Configure("clock", "manual");
    return host;
}

} // namespace

TEST(Lamps, PowerOnStateAndTheDeviceSettingOnlyModelsWithOneKeep)
{
    /* The document sensor without paper: the feeder tests. */
    SimHost host = ManualClockHost();
    EXPECT_EQ(host.Lamp(), (Page{0x01, 0, 0x40, 0, 15, 0, 0, 0, 0})) << "lamp 1 on, the chart on the glass, 15 minutes";
    ASSERT_EQ(host.SendLamp({0x01, 0, 0x80 | 0x25, 0, 15, 0, 0, 0, 0}), BUSLNK_GOOD);
    EXPECT_EQ(host.Lamp()[2], 0x40);
    SimHost tagged = ManualClockHost("tagged300");
    ASSERT_EQ(tagged.SendLamp({0x01, 0, 0x80 | 0x25, 0, 15, 0, 0, 0, 0}), BUSLNK_GOOD);
    EXPECT_EQ(tagged.Lamp()[2], 0x80 | 0x40 | 0x25);
}

TEST(Lamps, LampOnMinutesFollowTheClockAndStopAt127)
{
    SimHost host = ManualClockHost();
    /* With byte 1 bit 4 byte 4 reports minutes and sets no timer: the 15-minute one runs. */
    ASSERT_EQ(host.SendLamp({0x03, 0x10, 0, 0, 5, 0, 0, 0, 0}), BUSLNK_GOOD);
    host.Configure("advance", "125");
    EXPECT_EQ(host.Lamp()[4] & 0x7F, 2) << "lamps on since power on, 2 minutes 5 seconds";
    host.Configure("advance", "20000");
    EXPECT_EQ(host.Lamp()[4] & 0x7F, 0) << "the timer put them out";
    ASSERT_EQ(host.SendLamp({0x01, 0, 0, 0, 0, 0, 0, 0, 0}), BUSLNK_GOOD); /* timer 0: never off */
    ASSERT_EQ(host.SendLamp({0x01, 0x10, 0, 0, 0, 0, 0, 0, 0}), BUSLNK_GOOD);
    host.Configure("advance", "36000");
    EXPECT_EQ(host.Lamp()[4] & 0x7F, 127);
}

TEST(Lamps, TimerSwitchesIdleLampsOffAndAScanSwitchesThemOn)
{
    SimHost host = ManualClockHost();
    ASSERT_EQ(host.SendLamp({0x03, 0, 0, 0, 1, 0, 0, 0, 0}), BUSLNK_GOOD);
    host.Configure("advance", "59");
    EXPECT_EQ(host.Lamp()[0] & 3, 3);
    host.Configure("advance", "1");
    EXPECT_EQ(host.Lamp()[0] & 3, 0);
    WindowRequest w{.Length = 6};
    host.Scan(w);
    EXPECT_EQ(host.Lamp()[0] & 3, 1);
    host.Configure("advance", "30");
    host.Scan(w);
    host.Configure("advance", "45");
    EXPECT_EQ(host.Lamp()[0] & 3, 1) << "the timer runs from the last use";
}

/* --- The document feeder ------------------------------------------------- */

namespace {

constexpr unsigned kDpi = 50;
constexpr uint32_t kLineBytes = 312, kLines = 125; /* the number panel at 50 dpi */

SimHost FeederHost(const char *pages)
{
    SimHost host = IdealHost("duallens168");
    host.Configure("clock", "manual");
    host.Configure("feeder_pages", pages);
    return host;
}

/* A grey window over the page number's panel (a base pixel is 20 chart units). */
WindowRequest NumberPanel(uint8_t source = 0x11)
{
    return {.Resolution = kDpi, .X = int32_t(kPagePanelLeft / 20), .Y = int32_t(kPagePanelTop / 20),
            .Width = uint32_t((kPagePanelRight - kPagePanelLeft) / 20), .Length = uint32_t((kPagePanelBottom - kPagePanelTop) / 20),
            .Composition = kGrey, .SourceCode = source};
}

/* Scans the next feeder page's number panel whole and reads its number. */
long NextPageNumber(SimHost &host)
{
    std::vector<uint8_t> grey = host.Scan(NumberPanel());
    if (grey.size() != size_t{kLineBytes} * kLines)
        return -2;
    return ReadPageNumber([&](uint32_t x, uint32_t y) { return grey[size_t{y} * kLineBytes + x]; }, kLineBytes, kLines,
                          kDpi, kPagePanelLeft, kPagePanelTop);
}

bool PaperSensed(SimHost &host) { return host.Lamp()[2] & 0x40; }

} // namespace

TEST(Feeder, PageIsTakenAtTheStartAndGoneAfterAnAbortOrANewWindow)
{
    SimHost host = FeederHost("3");
    WindowRequest glass = NumberPanel(0x10);
    glass.Y = 7000 - static_cast<int32_t>(glass.Length); /* the feeder page's panel lies past the glass */
    EXPECT_EQ(host.Scan(glass).size(), size_t{kLineBytes} * kLines);
    ASSERT_EQ(host.SetWindow(NumberPanel()), BUSLNK_GOOD);
    EXPECT_EQ(host.Device.Feeder.Stack, 3u) << "neither a flatbed scan nor a window alone takes a page";
    uint32_t status = 0;
    host.ReadImage(kLineBytes * 10, &status);
    ASSERT_EQ(status, BUSLNK_GOOD);
    ASSERT_EQ(host.EndImage(), BUSLNK_GOOD);
    EXPECT_EQ(host.Device.Feeder.InPath, 0u) << "the aborted page left the path";
    host.ReadImage(kLineBytes * 10, &status);
    ASSERT_EQ(status, BUSLNK_GOOD);
    ASSERT_EQ(host.SetWindow(NumberPanel()), BUSLNK_GOOD);
    EXPECT_EQ(host.Device.Feeder.InPath, 0u) << "a new window abandons page 2";
    EXPECT_EQ(NextPageNumber(host), 3);
    EXPECT_EQ(host.Device.Feeder.InPath, 0u) << "a page read to its end is out";
}

TEST(Feeder, LoadingPaperRaisesTheEventAndPowerCyclesKeepTheStack)
{
    /* A zero in byte 7 acknowledges the event; nothing else does. */
    SimHost host = FeederHost("0");
    EXPECT_EQ(host.Lamp()[7], 0);
    host.Configure("feeder_pages", "2");
    Page page = host.Lamp();
    EXPECT_EQ(page[7], 1);
    ASSERT_EQ(host.SendLamp(page), BUSLNK_GOOD);
    EXPECT_EQ(host.Lamp()[7], 1) << "neither reading nor sending it back unchanged clears it";
    EXPECT_EQ(NextPageNumber(host), 1);
    host.Configure("reset", "");
    EXPECT_TRUE(PaperSensed(host));
    EXPECT_EQ(host.Lamp()[7], 1) << "paper in the tray at power-on";
    EXPECT_EQ(NextPageNumber(host), 2);
    page[7] = 0;
    ASSERT_EQ(host.SendLamp(page), BUSLNK_GOOD);
    EXPECT_EQ(host.Lamp()[7], 0);

    SimHost flatbed;
    flatbed.Configure("feeder_pages", "2");
    flatbed.Configure("paper", "absent");
    EXPECT_EQ(flatbed.Lamp()[2] & 0x40, 0) << "without a feeder the sensor is the glass's, and no event";
    EXPECT_EQ(flatbed.Lamp()[7], 0);
}

TEST(Feeder, JamStopsItsPageAfterTheGivenLinesAndTheNextPageFeeds)
{
    /* jam:2 (half a page) costing one page of a batch is proven through the driver (tests/scan). */
    SimHost host = FeederHost("2");
    host.Configure("faults", "jam:1:10");
    ASSERT_EQ(host.SetWindow(NumberPanel()), BUSLNK_GOOD);
    uint32_t status = 0;
    host.ReadImage(kLineBytes * 10, &status);
    EXPECT_EQ(status, BUSLNK_GOOD);
    host.ReadImage(1, &status);
    EXPECT_EQ(status, BUSLNK_CHECK_CONDITION) << "the jammed page reads no further";
    Sense s = host.RequestSense();
    EXPECT_EQ((s[2] & 0x0F) << 8 | s[12], 0x0453) << "hardware error: jam";
    ASSERT_EQ(host.EndImage(), BUSLNK_GOOD);
    EXPECT_EQ(NextPageNumber(host), 2);
    EXPECT_FALSE(PaperSensed(host));
    host.Configure("feeder_pages", "1");
    host.Configure("faults", "jam:1:10;jam:off");
    EXPECT_EQ(NextPageNumber(host), 1) << "jam:off takes the jam back; a new stack is numbered from 1";
}
