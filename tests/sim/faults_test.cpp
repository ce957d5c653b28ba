/*
 * faults_test.cpp - faults on demand (busy, check conditions, adapter
 * statuses, the image ending early) and the rule syntax.
 */
#include "sim_host.h"

namespace {

/* One command of a script: i INQUIRY, p parameter page, t TEST UNIT READY,
 * l lamp page, s REQUEST SENSE, c clearing the rules; with the status it must end with and, for
 * a check condition, the sense key and code REQUEST SENSE must then give. */
struct Step {
    char Command;
    uint32_t Status;
    uint8_t Key = 0, Asc = 0;
};

uint32_t RunStep(SimHost &host, char command)
{
    uint8_t data[40];
    switch (command) {
    case 'i': return host.Inquiry(data);
    case 'p': return host.Run(Cdb10(0x28, 0x82, 0, 0, 40), 1, data, 40);
    case 'l': return host.ReadLamp(data);
    case 's': return host.Run({0x03, 0, 0, 0, 14, 0}, 1, data, 14);
    case 'c': return host.Configure("faults", "clear"), BUSLNK_GOOD;
    default: return host.TestUnitReady();
    }
}

} // namespace

TEST(Faults, RulesDecideWhichCommandsFailAndHow)
{
    const uint32_t G = BUSLNK_GOOD, B = BUSLNK_BUSY, C = BUSLNK_CHECK_CONDITION;
    struct Case {
        const char *Rules;
        std::vector<Step> Steps;
    };
    const Case cases[] = {
        {"busy:2:params", {{'t', G}, {'p', B}, {'t', G}, {'p', B}, {'p', G}}},
        /* Other kinds do not count; it fires once; 40/xx is a hardware error. */
        {"check:params:2:40/02", {{'p', G}, {'t', G}, {'p', C, 0x04, 0x40}, {'p', G}}},
        {"check:any:1:24/00:6", {{'l', C, 0x06, 0x24}, {'l', G}}},
        /* Busy answers are not commands the scanner ran. */
        {"busy:1;check:any:2:60/00", {{'t', B}, {'t', G}, {'t', C, 0x04, 0x60}}},
        /* Both rules fire on the second; the first listed wins. */
        {"status:any:2:24;status:inquiry:2+:7", {{'i', G}, {'i', BUSLNK_ADAPTER_FAILURE}, {'i', 7}, {'i', 7}, {'t', G}}},
        {"status:sense:1:2", {{'s', BUSLNK_FAILURE}, {'s', G}}},
        {"busy:2", {{'t', B}, {'c', G}, {'t', G}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Rules);
        SimHost host;
        host.Configure("faults", c.Rules);
        for (size_t k = 0; k < c.Steps.size(); ++k) {
            const Step &s = c.Steps[k];
            ASSERT_EQ(RunStep(host, s.Command), s.Status) << "command " << k << " (" << s.Command << ")";
            if (s.Status == C) {
                Sense sense = host.RequestSense();
                EXPECT_EQ(sense[2] & 0x0F, s.Key) << k;
                EXPECT_EQ(sense[12], s.Asc) << k;
            }
        }
    }
}

TEST(Faults, ImageEndsEarlyWithTheDeliveredCount)
{
    SimHost host;
    host.Configure("fault", "early_end:10+37");
    WindowRequest w{.Resolution = 100, .Width = 600, .Length = 120}; /* 20 lines of 300 bytes */
    ASSERT_EQ(host.SetWindow(w), BUSLNK_GOOD);
    uint32_t status = 0;
    host.ReadImage(6000, &status);
    ASSERT_EQ(status, BUSLNK_CHECK_CONDITION);
    EXPECT_EQ(GetBig32(host.RequestSense().data() + 8), 10u * 300 + 37) << "the end of data as at the image's end";
    WindowRequest pass = w; /* calibration passes are never cut short */
    pass.SourceCode = 0x30, pass.Depth = 16, pass.Y = -240;
    EXPECT_EQ(host.Scan(pass).size(), 20u * 600);
    host.Configure("fault", "early_end:off");
    EXPECT_EQ(host.Scan(w).size(), 6000u);
}

TEST(Faults, RuleSyntax)
{
    /* Forms that work are at work in the other tests. */
    for (const char *rule : {"busy:1:nothing", "check:read:0:00/05", "check:read:1:100/00", "early_end:1+2+3", "sleep:1"}) {
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
