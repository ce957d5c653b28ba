/*
 * lens_test.cpp - vScannerMutiLens: refusals before initialization and out
 * of range, the selection and how the next parameter page read carries it.
 */
#include "device_control_fixture.h"

using namespace control_test;

namespace {

using LensTest = DeviceControlTest;

/* Initializes against a scanner that reports the given lens count. */
void InitializeWithLenses(uint8_t lenses)
{
    std::vector<uint8_t> page = ParameterPage();
    page[27] = lenses;
    fake::Queue(BUSLNK_GOOD, InquiryData());
    fake::Queue(BUSLNK_GOOD, page);
    fake::Queue(BUSLNK_GOOD, StatusPage());
    InitBlock init = {};
    vInitializeScanner(&init);
    ASSERT_EQ(Value(init.dwResult), 1u);
    fake::Reset();
}

/* Selects on a block of 0xA5 bytes; only dwResult may change. */
uint32_t Select(uint16_t lens)
{
    LensBlock before = Poisoned<LensBlock>();
    before.wLens = lens;
    LensBlock block = before;
    vScannerMutiLens(&block);
    ExpectOnlyResultWritten(before, block);
    return block.dwResult;
}

/* -1 of this export keeps the high half of dwResult 0. */
constexpr uint32_t kRefused = 0x0000FFFFu;

TEST_F(LensTest, SelectsOnlyALensBelowTheCountAfterInitialization)
{
    EXPECT_EQ(Select(0), kRefused);
    EXPECT_EQ(Select(1), kRefused);
    for (uint8_t lenses : {1, 0}) {
        InitializeWithLenses(lenses);
        EXPECT_EQ(Select(0), kRefused) << int(lenses) << " lenses";
    }
    InitializeWithLenses(2);
    EXPECT_EQ(Select(2), kRefused);
    EXPECT_EQ(Select(0xFFFF), kRefused); /* unsigned: not a negative lens */
    EXPECT_EQ(SelectedLens, 0);

    EXPECT_EQ(Select(1), 1u);
    EXPECT_EQ(SelectedLens, 1);
    EXPECT_TRUE(fake::Commands().empty()); /* the choice is sent with later commands */
    /* The next parameter page read carries the lens in byte 4. */
    fake::Queue(BUSLNK_GOOD, ParameterPage());
    ScanAttributeBlock defaults = {};
    vDefaultAttribute(&defaults);
    EXPECT_EQ(SentCdbs(), std::vector<std::string>{ParameterReadCdb(1, 0)});
    EXPECT_EQ(Select(0), 1u);
    EXPECT_EQ(SelectedLens, 0);
}

} // namespace
