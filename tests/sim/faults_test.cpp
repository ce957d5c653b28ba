/*
 * faults_test.cpp - faults on demand (busy, check conditions, adapter
 * statuses, the image ending early), the rule syntax, and the trace.
 */
#include "sim_host.h"

#include "sim_bytes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

uint32_t ReadParameters(SimHost &host)
{
    uint8_t page[40];
    return host.ReadParameters(0, 0, page);
}

} // namespace

TEST(Faults, BusyForNAttemptsThenTheCommandRuns)
{
    SimHost host;
    host.Configure("fault", "busy:3");
    uint8_t data[37];
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(host.Inquiry(data), BUSLNK_BUSY) << i;
    EXPECT_EQ(host.Inquiry(data), BUSLNK_GOOD);
}

TEST(Faults, BusyOfOneKindLeavesOthersAlone)
{
    SimHost host;
    host.Configure("fault", "busy:2:params");
    EXPECT_EQ(host.TestUnitReady(), BUSLNK_GOOD);
    EXPECT_EQ(ReadParameters(host), BUSLNK_BUSY);
    EXPECT_EQ(host.TestUnitReady(), BUSLNK_GOOD);
    EXPECT_EQ(ReadParameters(host), BUSLNK_BUSY);
    EXPECT_EQ(ReadParameters(host), BUSLNK_GOOD);
}

TEST(Faults, CheckConditionOnTheKthCommandOfAKind)
{
    SimHost host;
    host.Configure("fault", "check:params:2:40/02");
    EXPECT_EQ(ReadParameters(host), BUSLNK_GOOD);
    EXPECT_EQ(host.TestUnitReady(), BUSLNK_GOOD) << "other kinds do not count";
    EXPECT_EQ(ReadParameters(host), BUSLNK_CHECK_CONDITION);
    Sense s = host.RequestSense();
    EXPECT_EQ(s[2] & 0x0F, 0x04) << "hardware error";
    EXPECT_EQ(s[12], 0x40);
    EXPECT_EQ(s[13], 0x02);
    EXPECT_EQ(ReadParameters(host), BUSLNK_GOOD) << "fires once";
}

TEST(Faults, BusyAnswersDoNotCountAsCommands)
{
    SimHost host;
    host.Configure("faults", "busy:1;check:any:2:60/00");
    EXPECT_EQ(host.TestUnitReady(), BUSLNK_BUSY);
    EXPECT_EQ(host.TestUnitReady(), BUSLNK_GOOD);
    EXPECT_EQ(host.TestUnitReady(), BUSLNK_CHECK_CONDITION);
    EXPECT_EQ(host.RequestSense()[12], 0x60);
}

TEST(Faults, AFaultedCommandDoesNotTakeEffect)
{
    SimHost host;
    host.Configure("fault", "check:window:1:26/00");
    EXPECT_EQ(host.SetWindow(WindowRequest{}), BUSLNK_CHECK_CONDITION);
    uint32_t status = 0;
    host.Geometry(&status);
    EXPECT_EQ(status, BUSLNK_CHECK_CONDITION);
    EXPECT_EQ(host.RequestSense()[12], 0x2C) << "no window: the geometry is out of sequence";
}

TEST(Faults, AdapterStatusesOnceAndFromThenOn)
{
    SimHost host;
    host.Configure("faults", "status:any:2:24;status:inquiry:2+:7");
    uint8_t data[37];
    EXPECT_EQ(host.Inquiry(data), BUSLNK_GOOD);
    EXPECT_EQ(host.Inquiry(data), BUSLNK_ADAPTER_FAILURE) << "both rules fire; the first listed wins";
    EXPECT_EQ(host.Inquiry(data), 7u);
    EXPECT_EQ(host.Inquiry(data), 7u);
    EXPECT_EQ(host.TestUnitReady(), BUSLNK_GOOD);
    host.Configure("faults", "clear");
    EXPECT_EQ(host.Inquiry(data), BUSLNK_GOOD);
    host.Configure("fault", "status:sense:1:2");
    EXPECT_EQ(host.Run({0x03, 0, 0, 0, 14, 0}, 1, data, 14), BUSLNK_FAILURE);
}

TEST(Faults, TheFailingCommandWalksThroughASequence)
{
    /* Fail the n-th command for n = 1, 2, ...: each run sees its failure
     * exactly at n and none elsewhere, until n passes the sequence. */
    for (uint32_t n = 1;; ++n) {
        SimHost host;
        host.Configure("fault", ("status:any:" + std::to_string(n) + ":2").c_str());
        uint8_t data[40];
        uint32_t statuses[4] = {host.Inquiry(data), ReadParameters(host), host.ReadLamp(data), host.TestUnitReady()};
        for (uint32_t k = 0; k < 4; ++k)
            EXPECT_EQ(statuses[k], k + 1 == n ? BUSLNK_FAILURE : BUSLNK_GOOD) << n << " " << k;
        if (n > 4)
            break;
    }
}

TEST(Faults, ImageEndsEarlyWithTheDeliveredCount)
{
    SimHost host;
    host.Configure("fault", "early_end:10+37");
    WindowRequest w;
    w.Resolution = 100;
    w.Width = 600;
    w.Length = 120; /* 20 lines of 300 bytes */
    ASSERT_EQ(host.SetWindow(w), BUSLNK_GOOD);
    uint32_t status = 0;
    host.ReadImage(6000, &status);
    ASSERT_EQ(status, BUSLNK_CHECK_CONDITION);
    Sense s = host.RequestSense();
    EXPECT_EQ(s[12], 0x00);
    EXPECT_EQ(s[13], 0x05);
    EXPECT_EQ(GetBig32(s.data() + 8), 10u * 300 + 37);
    /* Calibration passes are never cut short. */
    WindowRequest pass = w;
    pass.SourceCode = 0x30;
    pass.Depth = 16;
    pass.Y = -240;
    EXPECT_EQ(host.Scan(pass).size(), 20u * 600);
    host.Configure("fault", "early_end:off");
    EXPECT_EQ(host.Scan(w).size(), 6000u);
}

TEST(Faults, RuleSyntax)
{
    const char *good[] = {"busy:1", "busy:4:read", "check:read:3:00/05", "check:any:1+:40/10:4",
                          "status:gamma:2:24", "early_end:0", "early_end:5+1", "early_end:off"};
    const char *bad[] = {"busy", "busy:x", "busy:1:nothing", "check:read:0:00/05", "check:read:1:0005",
                         "check:read:1:100/00", "status:any:1:0", "status:any:1", "early_end:-1",
                         "early_end:1+2+3", "sleep:1", ""};
    for (const char *rule : good) {
        SimFaults faults;
        std::string error;
        EXPECT_TRUE(AddFaultRule(faults, rule, error)) << rule;
    }
    for (const char *rule : bad) {
        SimFaults faults;
        std::string error;
        EXPECT_FALSE(AddFaultRule(faults, rule, error)) << rule;
        EXPECT_FALSE(error.empty()) << rule;
    }
    SimFaults faults;
    std::string error;
    EXPECT_FALSE(SetFaultRules(faults, "busy:1;bogus", error));
    EXPECT_TRUE(faults.Rules.empty()) << "a list with a bad rule changes nothing";
}

TEST(Faults, CommandKindsFromTheCdb)
{
    struct Case {
        std::vector<uint8_t> Cdb;
        SimCommandKind Kind;
    };
    const Case cases[] = {
        {{0x28, 0, 0x81, 0, 0, 0, 0, 0, 9, 0}, SimCommandKind::ReadLamp},
        {{0x2A, 0, 0x81, 0, 0, 0, 0, 0, 9, 0}, SimCommandKind::SendLamp},
        {{0x2A, 0, 0x81, 0, 0, 0, 0, 0, 1, 0}, SimCommandKind::SendLampControl},
        {{0x2A, 0, 0x03, 0, 0, 0x63, 1, 0, 0, 0}, SimCommandKind::SendGamma},
        {{0x28, 0, 0x03, 0, 0, 0, 1, 0, 0, 0}, SimCommandKind::Other},
        {{0x28, 0, 0x00, 0, 0, 0, 0, 0, 0, 0}, SimCommandKind::ReadImage},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ClassifyCommand(c.Cdb.data(), 10), c.Kind) << HexBytes(c.Cdb.data(), 10);
}

TEST(Trace, RecordsCommandsDataPhasesStatusesAndSense)
{
    char path[] = "/tmp/sim_trace_XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    {
        SimHost host;
        host.Configure("trace", path);
        host.Configure("trace_bytes", "4");
        uint8_t data[37];
        ASSERT_EQ(host.Inquiry(data), BUSLNK_GOOD);
        host.Configure("fault", "busy:1");
        ASSERT_EQ(host.TestUnitReady(), BUSLNK_BUSY);
        ASSERT_EQ(host.SendLampControl(0x05), BUSLNK_GOOD);
        uint32_t status = 0;
        host.ReadImage(16, &status);
        ASSERT_EQ(status, BUSLNK_CHECK_CONDITION);
        SimAttach(host.Device, AttachRecord{7, 0, 1, 1});
        host.Configure("trace", "off");
        ASSERT_EQ(host.TestUnitReady(), BUSLNK_GOOD);
    }
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    std::string trace = text.str();
    std::remove(path);
    EXPECT_NE(trace.find("inquiry cdb 12 00 00 00 25 00 timeout=1 in=37 out=0"), std::string::npos) << trace;
    EXPECT_NE(trace.find("in 37 bytes: 06 00 02 02 ..."), std::string::npos) << trace;
    EXPECT_NE(trace.find("-> GOOD (0)"), std::string::npos) << trace;
    EXPECT_NE(trace.find("configure fault=busy:1"), std::string::npos) << trace;
    EXPECT_NE(trace.find("-> BUSY (3)"), std::string::npos) << trace;
    EXPECT_NE(trace.find("out 1 bytes: 05"), std::string::npos) << trace;
    EXPECT_NE(trace.find("CHECK CONDITION key 5 sense 2c/00"), std::string::npos) << trace;
    EXPECT_NE(trace.find("attach kind=7 param1=1 param2=0 version=1 -> tagged300"), std::string::npos) << trace;
    /* Nothing after tracing stopped. */
    size_t last = trace.rfind("#");
    EXPECT_EQ(trace.find("tur", last), std::string::npos) << trace;
}
