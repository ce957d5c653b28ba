/*
 * feeder_test.cpp - the document feeder of the model that has one: the
 * stack and its sensor, the pending event of loaded paper, "no paper" for
 * a feeder image with the tray empty, page numbers that tell the pages
 * apart, a page taken at the start of an image and gone at its end or
 * abort, and jams on demand.
 */
#include "sim_host.h"

#include "../support/page_number.h"

#include <gtest/gtest.h>

namespace {

constexpr uint8_t kFeeder = 0x11;
constexpr unsigned kDpi = 50;

SimHost FeederHost(const char *pages)
{
    SimHost host;
    host.Configure("model", "duallens168");
    host.Configure("sensor", "ideal");
    host.Configure("noise", "off");
    host.Configure("clock", "manual");
    host.Configure("feeder_pages", pages);
    return host;
}

/* A grey window over the page number's panel (base resolution 600, so a
 * base pixel is 20 chart units). */
WindowRequest NumberPanel(uint8_t source = kFeeder)
{
    WindowRequest w;
    w.Resolution = kDpi;
    w.X = static_cast<int32_t>(kPagePanelLeft / 20);
    w.Y = static_cast<int32_t>(kPagePanelTop / 20);
    w.Width = static_cast<uint32_t>((kPagePanelRight - kPagePanelLeft) / 20);
    w.Length = static_cast<uint32_t>((kPagePanelBottom - kPagePanelTop) / 20);
    w.Composition = kGrey;
    w.SourceCode = source;
    return w;
}

long NumberIn(const std::vector<uint8_t> &grey, const WindowRequest &w)
{
    uint32_t width = w.Width * w.Resolution / 600, lines = w.Length * w.Resolution / 600;
    if (grey.size() != static_cast<size_t>(width) * lines)
        return -2;
    return ReadPageNumber([&](uint32_t x, uint32_t y) { return grey[static_cast<size_t>(y) * width + x]; }, width,
                          lines, w.Resolution, kPagePanelLeft, kPagePanelTop);
}

/* Scans the next feeder page's number panel whole and reads its number. */
long NextPageNumber(SimHost &host)
{
    WindowRequest w = NumberPanel();
    return NumberIn(host.Scan(w), w);
}

bool PaperSensed(SimHost &host)
{
    uint8_t page[9];
    EXPECT_EQ(host.ReadLamp(page), BUSLNK_GOOD);
    return page[2] & 0x40;
}

uint8_t PendingEvent(SimHost &host)
{
    uint8_t page[9];
    EXPECT_EQ(host.ReadLamp(page), BUSLNK_GOOD);
    return page[7];
}

} // namespace

TEST(Feeder, StackFeedsNumberedPagesUntilEmpty)
{
    SimHost host = FeederHost("3");
    EXPECT_TRUE(PaperSensed(host));
    for (long page = 1; page <= 3; ++page) {
        EXPECT_TRUE(PaperSensed(host)) << "before page " << page;
        EXPECT_EQ(NextPageNumber(host), page);
    }
    EXPECT_FALSE(PaperSensed(host)) << "the tray is empty";

    ASSERT_EQ(host.SetWindow(NumberPanel()), BUSLNK_GOOD);
    uint32_t status = 0;
    host.ReadImage(512, &status);
    EXPECT_EQ(status, BUSLNK_CHECK_CONDITION);
    Sense s = host.RequestSense();
    EXPECT_EQ(s[2] & 0x0F, 0x02) << "not ready";
    EXPECT_EQ(s[12], 0x3A);
    EXPECT_EQ(s[13], 0x00);
    host.ReadImage(512, &status);
    EXPECT_EQ(status, BUSLNK_CHECK_CONDITION) << "still no paper";

    host.Configure("feeder_pages", "1");
    EXPECT_EQ(NextPageNumber(host), 1) << "a new stack is numbered from 1";
}

TEST(Feeder, NumbersOfSeveralDigits)
{
    SimHost host = FeederHost("12");
    for (long page = 1; page <= 12; ++page)
        EXPECT_EQ(NextPageNumber(host), page);
}

TEST(Feeder, FlatbedAndCalibrationLeaveTheStackAlone)
{
    SimHost host = FeederHost("1");
    WindowRequest glass = NumberPanel(0x10);
    glass.Y = 7000 - static_cast<int32_t>(glass.Length);
    EXPECT_EQ(host.Scan(glass).size(), 312u * 125u);
    WindowRequest strip = NumberPanel(0x31);
    strip.Y = -240;
    strip.Length = 64;
    strip.Depth = 16;
    host.Scan(strip);
    EXPECT_TRUE(PaperSensed(host));
    EXPECT_EQ(NextPageNumber(host), 1);
}

TEST(Feeder, PageIsTakenAtTheStartAndGoneAfterAnAbortOrANewWindow)
{
    SimHost host = FeederHost("3");
    WindowRequest w = NumberPanel();
    ASSERT_EQ(host.SetWindow(w), BUSLNK_GOOD);
    EXPECT_EQ(host.Geometry()[2], 125u);
    EXPECT_TRUE(PaperSensed(host)) << "a window alone takes no page";
    uint32_t status = 0;
    host.ReadImage(312 * 10, &status);
    ASSERT_EQ(status, BUSLNK_GOOD);
    EXPECT_EQ(host.Device.Feeder.Stack, 2u);
    EXPECT_EQ(host.Device.Feeder.InPath, 1u);
    ASSERT_EQ(host.EndImage(), BUSLNK_GOOD);
    EXPECT_EQ(host.Device.Feeder.InPath, 0u) << "the aborted page left the path";

    host.ReadImage(312 * 10, &status);
    ASSERT_EQ(status, BUSLNK_GOOD);
    ASSERT_EQ(host.SetWindow(w), BUSLNK_GOOD) << "a new window abandons page 2";
    EXPECT_EQ(host.Device.Feeder.InPath, 0u);
    EXPECT_EQ(NextPageNumber(host), 3);
    EXPECT_EQ(host.Device.Feeder.InPath, 0u) << "a page read to its end is out";
}

TEST(Feeder, LoadingPaperRaisesTheEventAndPowerCyclesKeepTheStack)
{
    SimHost host = FeederHost("0");
    EXPECT_EQ(PendingEvent(host), 0);
    EXPECT_FALSE(PaperSensed(host));
    host.Configure("feeder_pages", "2");
    EXPECT_EQ(PendingEvent(host), 1);
    uint8_t page[9];
    ASSERT_EQ(host.ReadLamp(page), BUSLNK_GOOD);
    page[7] = 0;
    ASSERT_EQ(host.SendLamp(page), BUSLNK_GOOD);
    EXPECT_EQ(PendingEvent(host), 0) << "acknowledged";
    EXPECT_EQ(NextPageNumber(host), 1);
    host.Configure("reset", "");
    EXPECT_TRUE(PaperSensed(host));
    EXPECT_EQ(PendingEvent(host), 1) << "paper in the tray at power-on";
    EXPECT_EQ(NextPageNumber(host), 2);

    SimHost flatbed;
    flatbed.Configure("feeder_pages", "2");
    flatbed.Configure("paper", "absent");
    EXPECT_FALSE(PaperSensed(flatbed)) << "without a feeder the sensor is the glass's";
    EXPECT_EQ(PendingEvent(flatbed), 0);
}

TEST(Feeder, JamStopsItsPageHalfWayAndTheNextPageFeeds)
{
    SimHost host = FeederHost("3");
    host.Configure("faults", "jam:2");
    EXPECT_EQ(NextPageNumber(host), 1);

    WindowRequest w = NumberPanel();
    ASSERT_EQ(host.SetWindow(w), BUSLNK_GOOD);
    const uint32_t lineBytes = 312;
    uint32_t status = 0;
    host.ReadImage(lineBytes * 62, &status);
    EXPECT_EQ(status, BUSLNK_GOOD) << "the first half of 125 lines reads";
    host.ReadImage(lineBytes, &status);
    EXPECT_EQ(status, BUSLNK_CHECK_CONDITION);
    Sense s = host.RequestSense();
    EXPECT_EQ(s[2] & 0x0F, 0x04) << "hardware error";
    EXPECT_EQ(s[12], 0x53);
    EXPECT_EQ(s[13], 0x00);
    host.ReadImage(lineBytes, &status);
    EXPECT_EQ(status, BUSLNK_CHECK_CONDITION) << "the jammed page reads no further";
    ASSERT_EQ(host.EndImage(), BUSLNK_GOOD);

    EXPECT_EQ(NextPageNumber(host), 3);
    EXPECT_FALSE(PaperSensed(host));
}

TEST(Feeder, JamAfterAChosenLineCount)
{
    SimHost host = FeederHost("1");
    host.Configure("faults", "jam:1:10");
    ASSERT_EQ(host.SetWindow(NumberPanel()), BUSLNK_GOOD);
    uint32_t status = 0;
    host.ReadImage(312 * 10, &status);
    EXPECT_EQ(status, BUSLNK_GOOD);
    host.ReadImage(1, &status);
    EXPECT_EQ(status, BUSLNK_CHECK_CONDITION);

    host.Configure("feeder_pages", "1");
    host.Configure("faults", "jam:1:10;jam:off");
    EXPECT_EQ(NextPageNumber(host), 1) << "jam:off takes the jam back";
}
