/*
 * identity_test.cpp - what each model says about itself (INQUIRY, the
 * parameter page per lens and source), and how the device refuses commands
 * it cannot take: the sense it keeps for REQUEST SENSE.
 */
#include "sim_host.h"

#include "sim_bytes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

TEST(Identity, EveryModelAnswersInquiryAsASCSI2Scanner)
{
    for (int m = 0; m < SimModelCount(); ++m) {
        SimHost host;
        host.Configure("model", SimModelAt(m)->Name);
        uint8_t data[37];
        ASSERT_EQ(host.Inquiry(data), BUSLNK_GOOD);
        EXPECT_EQ(data[0], 6);
        EXPECT_EQ(data[2], 2);
        EXPECT_EQ(data[3], 2);
        EXPECT_EQ(data[36], SimModelAt(m)->Code);
        EXPECT_EQ(std::string(reinterpret_cast<char *>(data + 32), 4), SimModelAt(m)->Revision);
    }
}

TEST(Identity, AttachValueChoosesTheModelAndAnUnknownOneHasNoDevice)
{
    SimHost host;
    const uint8_t codes[] = {34, 150, 168, 12};
    for (uint16_t m = 0; m < 4; ++m) {
        ASSERT_EQ(SimAttach(host.Device, AttachRecord{7, 0, m, 1}), BUSLNK_GOOD);
        uint8_t data[37];
        ASSERT_EQ(host.Inquiry(data), BUSLNK_GOOD);
        EXPECT_EQ(data[36], codes[m]);
    }
    EXPECT_EQ(SimAttach(host.Device, AttachRecord{7, 0, 9, 1}), BUSLNK_FAILURE);
    uint8_t data[37];
    EXPECT_EQ(host.Inquiry(data), BUSLNK_FAILURE);
    /* A configured model wins over the attach values. */
    host.Configure("model", "gray300");
    ASSERT_EQ(SimAttach(host.Device, AttachRecord{7, 0, 2, 1}), BUSLNK_GOOD);
    ASSERT_EQ(host.Inquiry(data), BUSLNK_GOOD);
    EXPECT_EQ(data[36], 12);
}

TEST(Identity, ReattachingTheSameModelKeepsItsState)
{
    SimHost host;
    ASSERT_EQ(SimAttach(host.Device, AttachRecord{7, 0, 0, 1}), BUSLNK_GOOD);
    ASSERT_EQ(host.SetWindow(WindowRequest{}), BUSLNK_GOOD);
    ASSERT_EQ(SimAttach(host.Device, AttachRecord{7, 0, 0, 1}), BUSLNK_GOOD);
    uint32_t status = 0;
    host.Geometry(&status);
    EXPECT_EQ(status, BUSLNK_GOOD);
    ASSERT_EQ(SimAttach(host.Device, AttachRecord{7, 0, 3, 1}), BUSLNK_GOOD);
    host.Geometry(&status);
    EXPECT_EQ(status, BUSLNK_CHECK_CONDITION) << "a different model is a fresh device without a window";
}

TEST(Identity, DefaultFlatbedParameterPage)
{
    SimHost host;
    uint8_t p[40];
    ASSERT_EQ(host.ReadParameters(0, 0, p), BUSLNK_GOOD);
    EXPECT_EQ(p[0], 0x81);            /* colour default, kind bits 0, whole-pixel lines */
    EXPECT_EQ(p[1] & 1, 0);
    EXPECT_EQ(GetBig16(p + 3), 1200u);
    EXPECT_EQ(GetBig16(p + 7), 5100u); /* 8.5 in */
    EXPECT_EQ(GetBig16(p + 9), 7000u);
    EXPECT_EQ(GetBig16(p + 11), 600u);
    EXPECT_EQ(p[13], 0x0B);           /* threshold, halftone, colour */
    EXPECT_EQ(p[17] & 0x80, 0x80);
    EXPECT_EQ(static_cast<int32_t>(GetBig32(p + 19)), -240);
    EXPECT_EQ(p[27], 1);
    EXPECT_EQ(GetBig16(p + 30), 256u);
}

TEST(Identity, TaggedModelReportsSegmentsGapAndFarEdgeOrigin)
{
    SimHost host;
    host.Configure("model", "tagged300");
    uint8_t p[40];
    ASSERT_EQ(host.ReadParameters(0, 0, p), BUSLNK_GOOD);
    EXPECT_EQ(p[0] & 0x07, 3);
    EXPECT_EQ(p[0] & 0x30, 0x20);
    EXPECT_EQ(p[1] & 1, 1);
    EXPECT_EQ(p[2], 4);
    EXPECT_EQ(p[13] & 0x08, 0x08);
    EXPECT_EQ(p[13] & 0x02, 0) << "this model cannot halftone";
}

TEST(Identity, Model168HasTwoLensesAndBothAlternativeSources)
{
    SimHost host;
    host.Configure("model", "duallens168");
    uint8_t p[40];
    ASSERT_EQ(host.ReadParameters(0, 0, p), BUSLNK_GOOD);
    EXPECT_EQ(p[27], 2);
    EXPECT_EQ(p[29] & 3, 3);
    EXPECT_EQ(GetBig16(p + 11), 600u);
    ASSERT_EQ(host.ReadParameters(0, 1, p), BUSLNK_GOOD);
    EXPECT_EQ(GetBig16(p + 9), 8400u) << "the feeder takes longer pages";
    ASSERT_EQ(host.ReadParameters(0, 2, p), BUSLNK_GOOD);
    EXPECT_EQ(GetBig16(p + 7), 3000u);
    ASSERT_EQ(host.ReadParameters(1, 0, p), BUSLNK_GOOD);
    EXPECT_EQ(GetBig16(p + 11), 1200u);
    EXPECT_EQ(static_cast<int32_t>(GetBig32(p + 19)), -480);
    /* The feeder does not feed past the high-resolution lens. */
    EXPECT_EQ(host.ReadParameters(1, 1, p), BUSLNK_CHECK_CONDITION);
    Sense s = host.RequestSense();
    EXPECT_EQ(s[12], 0x24);
    uint8_t lamp[9];
    ASSERT_EQ(host.ReadLamp(lamp), BUSLNK_GOOD);
    EXPECT_EQ(lamp[5], 0x07);
}

TEST(Identity, GreyModelHasNoColour)
{
    SimHost host;
    host.Configure("model", "gray300");
    uint8_t p[40];
    ASSERT_EQ(host.ReadParameters(0, 0, p), BUSLNK_GOOD);
    EXPECT_EQ(p[13] & 0x08, 0);
    EXPECT_EQ(p[0] & 0x80, 0);
    EXPECT_EQ(host.ReadParameters(0, 1, p), BUSLNK_CHECK_CONDITION) << "no feeder";
    EXPECT_EQ(host.ReadParameters(1, 0, p), BUSLNK_CHECK_CONDITION) << "one lens";
}

TEST(Sense, RequestSenseReturnsTheLastCheckConditionThenNothing)
{
    SimHost host;
    uint8_t buffer[40];
    ASSERT_EQ(host.Run({0x28, 0, 0x82, 0, 0, 7, 0, 0, 40, 0}, 1, buffer, 40), BUSLNK_CHECK_CONDITION);
    Sense s = host.RequestSense();
    EXPECT_EQ(s[0] & 0x7F, 0x70);
    EXPECT_EQ(s[2] & 0x0F, 0x05) << "illegal request";
    EXPECT_EQ(s[7], 6);
    EXPECT_EQ(s[12], 0x24);
    EXPECT_EQ(s[13], 0x00);
    Sense again = host.RequestSense();
    EXPECT_EQ(again[12], 0);
    EXPECT_EQ(again[2] & 0x0F, 0);
}

TEST(Sense, CommandsTheDeviceCannotTake)
{
    struct Case {
        const char *What;
        std::vector<uint8_t> Cdb;
        int Direction;
        uint32_t Length;
        uint8_t Asc;
    };
    const Case cases[] = {
        {"unknown opcode", {0x1B, 0, 0, 0, 0, 0}, 0, 0, 0x20},
        {"READ of shading data", {0x28, 0, 0x01, 0, 0, 0, 0, 0, 4, 0}, 1, 4, 0x24},
        {"SEND of an unknown type", {0x2A, 0, 0x44, 0, 0, 0, 0, 0, 4, 0}, 2, 4, 0x24},
        {"INQUIRY with a 10-byte length", {0x12, 0, 0, 0, 37, 0, 0, 0, 0, 0}, 1, 37, 0x4A},
        {"data phase shorter than the CDB says", {0x12, 0, 0, 0, 37, 0}, 1, 36, 0x4B},
        {"data in for a SEND", {0x2A, 0, 0x81, 0, 0, 0, 0, 0, 9, 0}, 1, 9, 0x4B},
        {"lamp page of the wrong length", {0x28, 0, 0x81, 0, 0, 0, 0, 0, 8, 0}, 1, 8, 0x24},
        {"geometry before any window", {0x28, 0, 0x80, 0, 0, 0, 0, 0, 16, 0}, 1, 16, 0x2C},
        {"image before any window", {0x28, 0, 0x00, 0, 0, 0, 0, 0, 16, 0}, 1, 16, 0x2C},
    };
    for (const Case &c : cases) {
        SimHost host;
        uint8_t buffer[64] = {};
        EXPECT_EQ(host.Run(c.Cdb, c.Direction, buffer, c.Length), BUSLNK_CHECK_CONDITION) << c.What;
        EXPECT_EQ(host.RequestSense()[12], c.Asc) << c.What;
    }
}

TEST(Sense, TestUnitReadyIsGood)
{
    SimHost host;
    EXPECT_EQ(host.TestUnitReady(), BUSLNK_GOOD);
}
