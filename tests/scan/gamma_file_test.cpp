/*
 * gamma_file_test.cpp - gamma tables from text and raw files: resampling
 * to the sizes the driver is given, output scaling to the scan's depth,
 * one table for every channel or three, and the files that are refused.
 */
#include "gamma_file.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

std::string TextTable(size_t entries, uint32_t (*value)(size_t, size_t), const char *separator = " ")
{
    std::string text = "# a test table\n";
    for (size_t i = 0; i < entries; ++i)
        text += std::to_string(value(i, entries)) + separator;
    return text;
}

uint32_t Identity(size_t i, size_t) { return static_cast<uint32_t>(i); }
uint32_t Inverted(size_t i, size_t n) { return static_cast<uint32_t>(n - 1 - i); }

uint16_t Wide(const GammaTable &t, size_t channel, size_t i)
{
    uint16_t v;
    std::memcpy(&v, t.Bytes.data() + (channel * 65536 + i) * 2, 2);
    return v;
}

TEST(GammaFile, An8BitTableOf256EntriesGoesToTheDriverAsItIs)
{
    GammaTable t;
    std::string error;
    ASSERT_TRUE(BuildGammaTable(TextTable(256, Inverted, ",\n"), 1, 8, t, error)) << error;
    EXPECT_EQ(t.GammaScale, 0);
    ASSERT_EQ(t.Bytes.size(), 256u);
    for (size_t i = 0; i < 256; ++i)
        EXPECT_EQ(t.Bytes[i], 255 - i) << i;
}

TEST(GammaFile, OneTableServesAllThreeColourChannels)
{
    GammaTable t;
    std::string error;
    ASSERT_TRUE(BuildGammaTable(TextTable(256, Inverted), 3, 8, t, error)) << error;
    ASSERT_EQ(t.Bytes.size(), 768u);
    for (size_t c = 0; c < 3; ++c)
        EXPECT_EQ(t.Bytes[c * 256 + 10], 245) << c;
}

TEST(GammaFile, ThreeTablesAreRedGreenBlue)
{
    std::string text = TextTable(256, Identity) + TextTable(256, Inverted) +
                       TextTable(256, [](size_t, size_t) -> uint32_t { return 7; });
    GammaTable t;
    std::string error;
    ASSERT_TRUE(BuildGammaTable(text, 3, 8, t, error)) << error;
    ASSERT_EQ(t.Bytes.size(), 768u);
    EXPECT_EQ(t.Bytes[100], 100);
    EXPECT_EQ(t.Bytes[256 + 100], 155);
    EXPECT_EQ(t.Bytes[512 + 100], 7);
}

TEST(GammaFile, A256EntryTableIsStretchedFor16BitScans)
{
    GammaTable t;
    std::string error;
    ASSERT_TRUE(BuildGammaTable(TextTable(256, Identity), 1, 16, t, error)) << error;
    EXPECT_EQ(t.GammaScale, 256);
    ASSERT_EQ(t.Bytes.size(), 65536u * 2);
    EXPECT_EQ(Wide(t, 0, 0), 0);
    EXPECT_EQ(Wide(t, 0, 65535), 65535);
    EXPECT_EQ(Wide(t, 0, 257 * 100), 257 * 100); /* an identity stays one */
    for (size_t i = 1; i < 65536; ++i)
        ASSERT_GE(Wide(t, 0, i), Wide(t, 0, i - 1)) << i;
}

TEST(GammaFile, A4096EntryTableIsShrunkFor8BitScans)
{
    GammaTable t;
    std::string error;
    ASSERT_TRUE(BuildGammaTable(TextTable(4096, Inverted), 1, 8, t, error)) << error;
    ASSERT_EQ(t.Bytes.size(), 256u);
    EXPECT_EQ(t.Bytes[0], 255);
    EXPECT_EQ(t.Bytes[255], 0);
    EXPECT_EQ(t.Bytes[128], 127);
}

TEST(GammaFile, RawTablesAreTakenAsTheyAre)
{
    std::string raw8(256, '\0');
    for (int i = 0; i < 256; ++i)
        raw8[static_cast<size_t>(i)] = static_cast<char>(255 - i);
    GammaTable t;
    std::string error;
    ASSERT_TRUE(BuildGammaTable(raw8, 1, 8, t, error)) << error;
    ASSERT_EQ(t.Bytes.size(), 256u);
    EXPECT_EQ(t.Bytes[0], 255);

    std::string raw16(65536 * 2, '\0');
    raw16[2 * 1000] = 0x34; /* entry 1000 = 0x1234, little-endian in the file */
    raw16[2 * 1000 + 1] = 0x12;
    ASSERT_TRUE(BuildGammaTable(raw16, 3, 16, t, error)) << error;
    ASSERT_EQ(t.Bytes.size(), 3u * 65536 * 2);
    EXPECT_EQ(Wide(t, 0, 1000), 0x1234);
    EXPECT_EQ(Wide(t, 2, 1000), 0x1234);
}

TEST(GammaFile, RefusedTables)
{
    struct Case {
        std::string Contents;
        unsigned Channels, Depth;
        const char *Message;
    };
    const Case cases[] = {
        {TextTable(255, Identity), 1, 8, "holds 255 values"},
        {"", 1, 8, "holds 0 values"},
        {TextTable(256, [](size_t, size_t) -> uint32_t { return 256; }), 1, 8, "value 256 is out of range"},
        {TextTable(768, [](size_t i, size_t) -> uint32_t { return static_cast<uint32_t>(i % 256); }), 1, 8,
         "a single-channel scan takes one"},
        {"1 2 99999999", 1, 8, "larger than 65535"},
        {std::string(300, '\xff'), 1, 8, "256 or 768 bytes, not 300"},
        {std::string(256, '\xff'), 1, 16, "131072 or 393216 bytes, not 256"},
        {std::string(768, '\xff'), 1, 8, "a single-channel scan takes one"},
    };
    for (const Case &c : cases) {
        GammaTable t;
        std::string error;
        EXPECT_FALSE(BuildGammaTable(c.Contents, c.Channels, c.Depth, t, error)) << c.Message;
        EXPECT_NE(error.find(c.Message), std::string::npos) << error;
    }
}

TEST(GammaFile, AMissingFileIsNamed)
{
    GammaTable t;
    std::string error;
    EXPECT_FALSE(LoadGammaFile("/nonexistent/gamma.txt", 1, 8, t, error));
    EXPECT_NE(error.find("/nonexistent/gamma.txt"), std::string::npos) << error;
}

} // namespace
