/*
 * lamps_test.cpp - the LampStatusPage as the scanner keeps it: lamps, the
 * lamp-off timer and the lamp-on minutes on the device's clock, the
 * document sensor, the device setting and the pending event.
 */
#include "sim_host.h"

#include <gtest/gtest.h>

namespace {

SimHost ManualClockHost(const char *model = "flatbed600")
{
    SimHost host;
    host.Configure("model", model);
    host.Configure("clock", "manual");
    return host;
}

std::array<uint8_t, 9> Page(SimHost &host)
{
    std::array<uint8_t, 9> page{};
    EXPECT_EQ(host.ReadLamp(page.data()), BUSLNK_GOOD);
    return page;
}

} // namespace

TEST(Lamps, PowerOnState)
{
    SimHost host = ManualClockHost();
    std::array<uint8_t, 9> p = Page(host);
    EXPECT_EQ(p[0], 0x01) << "lamp 1 on";
    EXPECT_EQ(p[1] & 0x10, 0);
    EXPECT_EQ(p[2], 0x40) << "the chart lies on the glass";
    EXPECT_EQ(p[4], 15) << "15-minute timer";
    EXPECT_EQ(p[7], 0);
}

TEST(Lamps, TimerAndFlagAreKept)
{
    SimHost host = ManualClockHost();
    uint8_t page[9] = {0x03, 0, 0, 0, 0x80 | 5, 0, 0, 0, 0};
    ASSERT_EQ(host.SendLamp(page), BUSLNK_GOOD);
    std::array<uint8_t, 9> p = Page(host);
    EXPECT_EQ(p[0] & 3, 3);
    EXPECT_EQ(p[4], 0x85);
}

TEST(Lamps, LampOnMinutesFollowTheClock)
{
    SimHost host = ManualClockHost();
    uint8_t page[9] = {0x03, 0x10, 0, 0, 5, 0, 0, 0, 0};
    ASSERT_EQ(host.SendLamp(page), BUSLNK_GOOD);
    host.Configure("advance", "125");
    std::array<uint8_t, 9> p = Page(host);
    EXPECT_EQ(p[1] & 0x10, 0x10);
    EXPECT_EQ(p[4] & 0x7F, 2) << "lamps on since power on, 2 minutes 5 seconds";
    /* With byte 1 bit 4 set, byte 4 of a SEND is not a new timer. */
    page[4] = 99;
    ASSERT_EQ(host.SendLamp(page), BUSLNK_GOOD);
    page[1] = 0;
    host.Configure("advance", "3");
    std::array<uint8_t, 9> timer = Page(host);
    EXPECT_EQ(timer[4] & 0x7F, 2) << "still lamp-on minutes";
    host.Configure("advance", "20000");
    p = Page(host);
    EXPECT_EQ(p[0] & 3, 0) << "the 5-minute timer ran out long ago";
    EXPECT_EQ(p[4] & 0x7F, 0) << "no lamp on";
}

TEST(Lamps, LampOnMinutesStopAt127)
{
    SimHost host = ManualClockHost();
    uint8_t page[9] = {0x01, 0x10, 0, 0, 0, 0, 0, 0, 0}; /* timer 0: never off */
    page[1] = 0;
    ASSERT_EQ(host.SendLamp(page), BUSLNK_GOOD);
    page[1] = 0x10;
    ASSERT_EQ(host.SendLamp(page), BUSLNK_GOOD);
    host.Configure("advance", "36000");
    EXPECT_EQ(Page(host)[4] & 0x7F, 127);
}

TEST(Lamps, AScannerThatOnlyReportsItsTimer)
{
    SimHost host = ManualClockHost("gray300");
    uint8_t page[9] = {0x03, 0x10, 0, 0, 7, 0, 0, 0, 0};
    ASSERT_EQ(host.SendLamp(page), BUSLNK_GOOD);
    std::array<uint8_t, 9> p = Page(host);
    EXPECT_EQ(p[1] & 0x10, 0);
    EXPECT_EQ(p[4], 15) << "byte 4 of that SEND was not a timer";
}

TEST(Lamps, TimerSwitchesIdleLampsOffAndAScanSwitchesThemOn)
{
    SimHost host = ManualClockHost();
    uint8_t page[9] = {0x03, 0, 0, 0, 1, 0, 0, 0, 0};
    ASSERT_EQ(host.SendLamp(page), BUSLNK_GOOD);
    host.Configure("advance", "59");
    EXPECT_EQ(Page(host)[0] & 3, 3);
    host.Configure("advance", "1");
    EXPECT_EQ(Page(host)[0] & 3, 0);
    WindowRequest w;
    w.Length = 6;
    host.Scan(w);
    EXPECT_EQ(Page(host)[0] & 3, 1);
    host.Configure("advance", "30");
    host.Scan(w);
    host.Configure("advance", "45");
    EXPECT_EQ(Page(host)[0] & 3, 1) << "the timer runs from the last use";
}

TEST(Lamps, DocumentSensor)
{
    SimHost host = ManualClockHost();
    EXPECT_EQ(Page(host)[2] & 0x40, 0x40);
    host.Configure("paper", "absent");
    EXPECT_EQ(Page(host)[2] & 0x40, 0);
    host.Configure("paper", "present");
    EXPECT_EQ(Page(host)[2] & 0x40, 0x40);
}

TEST(Lamps, PendingEventStaysUntilAcknowledged)
{
    SimHost host = ManualClockHost();
    host.Configure("event", "3");
    std::array<uint8_t, 9> p = Page(host);
    EXPECT_EQ(p[7], 3);
    EXPECT_EQ(Page(host)[7], 3) << "reading does not clear it";
    ASSERT_EQ(host.SendLamp(p.data()), BUSLNK_GOOD);
    EXPECT_EQ(Page(host)[7], 3) << "sending it back unchanged does not clear it";
    p[7] = 0;
    ASSERT_EQ(host.SendLamp(p.data()), BUSLNK_GOOD);
    EXPECT_EQ(Page(host)[7], 0);
}

TEST(Lamps, DeviceSettingOnModelsThatHaveOne)
{
    SimHost host = ManualClockHost("tagged300");
    EXPECT_EQ(Page(host)[2] & 0x80, 0);
    uint8_t page[9] = {0x01, 0, 0x80 | 0x25, 0, 15, 0, 0, 0, 0};
    ASSERT_EQ(host.SendLamp(page), BUSLNK_GOOD);
    EXPECT_EQ(Page(host)[2], 0x80 | 0x40 | 0x25);
    page[2] = 0x00; /* bit 7 clear: no new setting */
    ASSERT_EQ(host.SendLamp(page), BUSLNK_GOOD);
    EXPECT_EQ(Page(host)[2], 0x80 | 0x40 | 0x25);

    SimHost flatbed = ManualClockHost();
    page[2] = 0x80 | 0x25;
    ASSERT_EQ(flatbed.SendLamp(page), BUSLNK_GOOD);
    EXPECT_EQ(Page(flatbed)[2], 0x40);
}

TEST(Lamps, ControlByteSetsTheDarkBitAndThePageClearsIt)
{
    SimHost host = ManualClockHost();
    ASSERT_EQ(host.SendLampControl(0x85), BUSLNK_GOOD);
    std::array<uint8_t, 9> p = Page(host);
    EXPECT_EQ(p[0] & 0x84, 0x84);
    EXPECT_EQ(p[4], 15) << "the control byte leaves the rest of the page alone";
    p[0] = 0x05;
    ASSERT_EQ(host.SendLamp(p.data()), BUSLNK_GOOD);
    EXPECT_EQ(Page(host)[0] & 0x84, 0);
}
