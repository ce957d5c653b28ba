/* gamma_file_test.cpp - gamma tables from text and raw files, resampled and scaled for the scan. */
#include "gamma_file.h"

#include <gtest/gtest.h>

#include <array>
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
uint32_t Seven(size_t, size_t) { return 7; }

/* Entry i of a channel's table, one or two bytes wide. */
unsigned Entry(const GammaTable &t, unsigned depth, size_t channel, size_t i)
{
    if (depth <= 8)
        return t.Bytes.at(channel * 256 + i);
    uint16_t v;
    std::memcpy(&v, &t.Bytes.at((channel * 65536 + i) * 2), 2);
    return v;
}

TEST(GammaFile, TablesAreSizedAndScaledForTheScan)
{
    std::string raw8(256, '\0'), raw16(65536 * 2, '\0');
    for (int i = 0; i < 256; ++i)
        raw8[size_t(i)] = static_cast<char>(255 - i);
    raw16[2 * 1000] = 0x34; /* entry 1000 = 0x1234, little-endian in the file */
    raw16[2 * 1000 + 1] = 0x12;
    struct Case {
        std::string Contents;
        unsigned Channels, Depth, Scale;
        std::vector<std::array<unsigned, 3>> Entries; /* channel, index, value */
    };
    const Case cases[] = {
        {TextTable(256, Inverted, ",\n"), 1, 8, 0, {{0, 0, 255}, {0, 10, 245}, {0, 255, 0}}},
        {TextTable(256, Inverted), 3, 8, 0, {{0, 10, 245}, {1, 10, 245}, {2, 10, 245}}}, /* one serves all three */
        {TextTable(256, Identity) + TextTable(256, Inverted) + TextTable(256, Seven), 3, 8, 0,
         {{0, 100, 100}, {1, 100, 155}, {2, 100, 7}}}, /* red, green, blue */
        {TextTable(256, Identity), 1, 16, 256, {{0, 0, 0}, {0, 65535, 65535}, {0, 257 * 100, 257 * 100}}},
        {TextTable(4096, Inverted), 1, 8, 0, {{0, 0, 255}, {0, 128, 127}, {0, 255, 0}}},
        {raw8, 1, 8, 0, {{0, 0, 255}, {0, 255, 0}}},
        {raw16, 3, 16, 256, {{0, 1000, 0x1234}, {2, 1000, 0x1234}, {1, 999, 0}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Contents.substr(0, 20));
        GammaTable t;
        std::string error;
        ASSERT_TRUE(BuildGammaTable(c.Contents, c.Channels, c.Depth, t, error)) << error;
        EXPECT_EQ(t.GammaScale, c.Scale);
        ASSERT_EQ(t.Bytes.size(), c.Channels * (c.Depth <= 8 ? 256u : 65536u * 2));
        for (const auto &[channel, index, value] : c.Entries) {
            EXPECT_EQ(Entry(t, c.Depth, channel, index), value) << "channel " << channel << " entry " << index;
        }
        if (c.Depth == 16 && c.Contents[0] == '#') /* stretched, never falling back */
            for (size_t i = 1; i < 65536; ++i) {
                ASSERT_GE(Entry(t, 16, 0, i), Entry(t, 16, 0, i - 1)) << i;
            }
    }
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
        {TextTable(256, [](size_t, size_t) -> uint32_t { return 256; }), 1, 8, "value 256 is out of range"},
        {TextTable(768, [](size_t i, size_t) -> uint32_t { return static_cast<uint32_t>(i % 256); }), 1, 8,
         "a single-channel scan takes one"},
        {"1 2 99999999", 1, 8, "larger than 65535"},
        {std::string(256, '\xff'), 1, 16, "131072 or 393216 bytes, not 256"},
        {std::string(768, '\xff'), 1, 8, "a single-channel scan takes one"},
    };
    GammaTable t;
    std::string error;
    for (const Case &c : cases) {
        EXPECT_FALSE(BuildGammaTable(c.Contents, c.Channels, c.Depth, t, error)) << c.Message;
        EXPECT_NE(error.find(c.Message), std::string::npos) << error;
    }
}

} // namespace
