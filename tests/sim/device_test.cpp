/*
 * device_test.cpp - what each model says about itself, the commands and
 * windows the device refuses and the sense it keeps for them, the geometry
 * of accepted windows, configuration keys and image files as documents.
 */
#include "sim_host.h"

#include "sim_config.h"

#include <cstdio>
#include <functional>
#include <unistd.h>

#ifdef SIM_HAVE_PNG
#include <png.h>
#endif

TEST(Identity, OnlyAnotherModelStartsAfreshAndAConfiguredModelWins)
{
    /* That attach values choose the models, and 9 none, whole scans prove (tests/e2e, tests/windows). */
    SimHost host;
    uint32_t status = 0;
    ASSERT_EQ(SimAttach(host.Device, AttachRecord{7, 0, 0, 1}), BUSLNK_GOOD);
    ASSERT_EQ(host.SetWindow(WindowRequest{}), BUSLNK_GOOD);
    ASSERT_EQ(SimAttach(host.Device, AttachRecord{7, 0, 0, 1}), BUSLNK_GOOD);
    host.Geometry(&status);
    EXPECT_EQ(status, BUSLNK_GOOD) << "the same model keeps its window";
    ASSERT_EQ(SimAttach(host.Device, AttachRecord{7, 0, 3, 1}), BUSLNK_GOOD);
    host.Geometry(&status);
    EXPECT_EQ(status, BUSLNK_CHECK_CONDITION) << "another model is a fresh device without a window";
    host.Configure("model", "gray300");
    uint8_t data[37];
    ASSERT_EQ(SimAttach(host.Device, AttachRecord{7, 0, 2, 1}), BUSLNK_GOOD);
    ASSERT_EQ(host.Inquiry(data), BUSLNK_GOOD);
    EXPECT_EQ(data[36], 12) << "a configured model wins over the attach values";
}

TEST(Sense, CommandsTheDeviceRefusesWithSenseForOneRequestSense)
{
    std::vector<uint8_t> bigPattern(17 * 17 + 1, 1);
    bigPattern[0] = 17;
    auto send = [](uint8_t type, uint8_t qualifier, size_t n) { return Cdb10(0x2A, type, 0, qualifier, uint32_t(n)); };
    auto zeros = [](size_t n) { return std::vector<uint8_t>(n); };
    struct Case {
        const char *Model, *What;
        std::vector<uint8_t> Cdb;
        int Direction;
        std::vector<uint8_t> Data;
        uint8_t Asc;
    };
    const Case cases[] = {
        {"flatbed600", "unknown opcode", {0x1B, 0, 0, 0, 0, 0}, 0, {}, 0x20},
        {"flatbed600", "INQUIRY with a 10-byte length", {0x12, 0, 0, 0, 37, 0, 0, 0, 0, 0}, 1, zeros(37), 0x4A},
        {"flatbed600", "data phase shorter than the CDB says", {0x12, 0, 0, 0, 37, 0}, 1, zeros(36), 0x4B},
        {"flatbed600", "data in for a SEND", Cdb10(0x2A, 0x81, 0, 0, 9), 1, zeros(9), 0x4B},
        {"flatbed600", "geometry before any window", Cdb10(0x28, 0x80, 0, 0, 16), 1, zeros(16), 0x2C},
        {"flatbed600", "window list of 70 bytes", Cdb10(0x24, 0, 0, 0, 70), 2, zeros(70), 0x1A},
        {"gray300", "parameters of a second lens", Cdb10(0x28, 0x82, 1, 0, 40), 1, zeros(40), 0x24},
        {"flatbed600", "gamma piece 7 of colour's six", send(0x03, 0x60 | 0x01 | (7 << 1), 65536), 2, zeros(65536), 0x1A},
        {"flatbed600", "half a gamma entry", send(0x03, 0x61, 3), 2, zeros(3), 0x1A},
        {"gray300", "colour gamma on a scanner with one table", send(0x03, 0x63, 65536), 2, zeros(65536), 0x24},
        {"flatbed600", "halftone of side 0", send(0x02, 0x80, 1), 2, {0}, 0x26},
        {"flatbed600", "halftone of side 17", send(0x02, 0x80, bigPattern.size()), 2, bigPattern, 0x26},
        {"flatbed600", "shading wider than the sensor", send(0x01, 0x21, 10202), 2, zeros(10202), 0x1A},
        {"flatbed600", "red shading alone (168 only)", send(0x01, 0x03, 10200), 2, zeros(10200), 0x24},
    };
    for (Case c : cases) {
        SimHost host;
        host.Configure("model", c.Model);
        EXPECT_EQ(host.Run(c.Cdb, c.Direction, c.Data.data(), uint32_t(c.Data.size())), BUSLNK_CHECK_CONDITION) << c.What;
        Sense s = host.RequestSense(), again = host.RequestSense();
        EXPECT_EQ(s[12], c.Asc) << c.What;
        EXPECT_EQ(s[0] & 0x7F, 0x70) << c.What;
        EXPECT_EQ(s[2] & 0x0F, c.Asc == 0x4A || c.Asc == 0x4B ? 0x0B : 0x05) << c.What << ": phase errors abort";
        EXPECT_EQ(s[7], 6) << c.What;
        EXPECT_EQ(again[12] | again[2], 0) << c.What << ": a REQUEST SENSE spends the sense";
    }
}

TEST(Window, RefusedWindowsTakeNoEffect)
{
    struct Refusal {
        const char *Model, *What;
        std::function<void(std::vector<uint8_t> &)> Change;
        uint16_t Code; /* ASC and ASCQ */
    };
    const Refusal refusals[] = {
        {"flatbed600", "descriptor length 60", [](auto &l) { PutBig16(&l[6], 60); }, 0x2600},
        {"flatbed600", "a second window", [](auto &l) { l[8] = 1; }, 0x2C01},
        {"flatbed600", "X and Y resolutions differ", [](auto &l) { PutBig16(&l[12], 600); }, 0x2C02},
        {"flatbed600", "resolution 10", [](auto &l) { PutBig16(&l[10], 10), PutBig16(&l[12], 10); }, 0x2602},
        {"flatbed600", "colour at 9 bits", [](auto &l) { l[34] = 9; }, 0x2C02},
        {"flatbed600", "threshold at 8 bits", [](auto &l) { l[33] = 0; }, 0x2C02},
        {"flatbed600", "feeder not installed", [](auto &l) { l[39] = 0x11; }, 0x2600},
        {"flatbed600", "calibration above the reference area",
         [](auto &l) { l[39] = 0x30, l[34] = 16, PutBig32(&l[18], uint32_t(-401)); }, 0x2600},
        {"flatbed600", "right edge beyond the glass", [](auto &l) { PutBig32(&l[14], 5000), PutBig32(&l[22], 101); }, 0x2600},
        {"flatbed600", "negative X", [](auto &l) { PutBig32(&l[14], 0xFFFFFFFF); }, 0x2600},
        {"flatbed600", "narrower than one pixel at 15 dpi",
         [](auto &l) { PutBig16(&l[10], 15), PutBig16(&l[12], 15), PutBig32(&l[22], 30); }, 0x2600},
        {"gray300", "colour on a grey scanner", [](auto &) {}, 0x2600},
        {"tagged300", "halftone without a halftoner", [](auto &l) { l[33] = 1, l[34] = 1; }, 0x2600},
    };
    for (const Refusal &r : refusals) {
        SCOPED_TRACE(testing::Message() << r.Model << ": " << r.What);
        SimHost host;
        host.Configure("model", r.Model);
        std::vector<uint8_t> list = WindowRequest{.Resolution = 300}.ListBytes();
        r.Change(list);
        ASSERT_EQ(host.SetWindowList(list), BUSLNK_CHECK_CONDITION);
        Sense s = host.RequestSense();
        EXPECT_EQ(s[12] << 8 | s[13], r.Code);
        uint32_t status = 0;
        host.Geometry(&status);
        EXPECT_EQ(status, BUSLNK_CHECK_CONDITION) << "a refused window must not take effect";
    }
}

TEST(Window, GeometryFollowsFromTheAcceptedWindow)
{
    /* Pixels, bytes per line and lines; the window defaults to colour, 8 bits, 600 x 60 base pixels at 600 dpi. */
    struct Case {
        const char *Model;
        WindowRequest W;
        std::array<uint32_t, 3> Geometry;
    };
    const Case cases[] = {
        {"flatbed600", {.Resolution = 300, .Width = 601, .Length = 601}, {300, 900, 300}},
        {"flatbed600", {.Resolution = 1000, .Depth = 16}, {1000, 6000, 100}},
        {"flatbed600", {.Resolution = 250, .Composition = kGrey, .Depth = 12}, {250, 500, 25}},
        {"flatbed600", {.Resolution = 80, .Width = 75, .Length = 75, .Composition = kDithered, .Depth = 1}, {10, 2, 10}},
        {"flatbed600", {.Y = -400, .Depth = 16, .SourceCode = 0x30}, {600, 3600, 60}}, /* top of the reference area */
        /* Colour-tagged segments: three of 2 + pixels bytes each; calibration lines come whole. */
        {"tagged300", {.Resolution = 500, .Width = 300, .Length = 30, .Depth = 16}, {500, 3 * 1002, 50}},
        {"tagged300", {.Resolution = 300, .Y = -120, .Width = 2550, .Length = 64, .Depth = 16, .SourceCode = 0x30},
         {2550, 2550 * 3 * 2, 64}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.Model << " " << c.W.Resolution << " dpi depth " << int(c.W.Depth));
        SimHost host;
        host.Configure("model", c.Model);
        ASSERT_EQ(host.SetWindow(c.W), BUSLNK_GOOD);
        EXPECT_EQ(host.Geometry(), c.Geometry);
    }
}

TEST(Config, ValuesAKeyDoesNotTakeAreRefusedWithAReason)
{
    const std::pair<const char *, const char *> refused[] = {
        {"model", "9"}, {"segment_order", "RGG"}, {"document", "/nonexistent.pnm"}, {"feeder_pages", "10000"},
        {"colour", "on"},
    };
    SimHost host;
    for (auto [key, value] : refused) {
        std::string error;
        EXPECT_EQ(SimConfigureDevice(host.Device, key, value, error), std::string(key) == "colour" ? -1 : -2) << key << "=" << value;
        EXPECT_FALSE(error.empty()) << key << "=" << value;
    }
}

TEST(Document, ImageFilesLieAtTheTopLeftOfTheGlassAndBrokenOnesChangeNothing)
{
    char path[] = "/tmp/sim_doc_XXXXXX";
    close(mkstemp(path));
    auto write = [&](const char *header, const std::vector<uint8_t> &bytes) {
        FILE *file = std::fopen(path, "wb");
        std::fputs(header, file);
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        return std::fclose(file) == 0;
    };
    /* 4 x 3 pixels, each distinct, at 100 dpi: 120 chart units a pixel; white lid beyond. */
    auto expected = [](int64_t x, int64_t y) {
        uint8_t v = static_cast<uint8_t>(20 * (x / 120) + 70 * (y / 120));
        return x < 480 && y < 360 ? SimRgb{v, uint8_t(v + 5), uint8_t(v + 10)} : SimRgb{255, 255, 255};
    };
    std::vector<uint8_t> rgb;
    for (int64_t i = 0; i < 12; ++i) {
        SimRgb c = expected(i % 4 * 120, i / 4 * 120);
        rgb.insert(rgb.end(), {c.R, c.G, c.B});
    }
    std::vector<std::function<bool()>> writers = {[&] { return write("P6\n# a comment\n4 3\n255\n", rgb); }};
#ifdef SIM_HAVE_PNG
    writers.push_back([&] {
        png_image image{};
        image.version = PNG_IMAGE_VERSION, image.width = 4, image.height = 3, image.format = PNG_FORMAT_RGB;
        return png_image_write_to_file(&image, path, 0, rgb.data(), 0, nullptr) != 0;
    });
#endif
    for (size_t k = 0; k < writers.size(); ++k) {
        ASSERT_TRUE(writers[k]()) << k;
        SimHost host = IdealHost();
        host.Configure("document_dpi", "100");
        host.Configure("document", path);
        std::vector<uint8_t> scan = host.Scan({.Resolution = 100, .Width = 36, .Length = 24}); /* 6 x 4 pixels */
        ASSERT_EQ(scan.size(), 6u * 4 * 3);
        for (uint32_t i = 0; i < 24; ++i)
            EXPECT_EQ((SimRgb{scan[3 * i], scan[3 * i + 1], scan[3 * i + 2]}), expected(i % 6 * 120, i / 6 * 120)) << k << " " << i;
    }
    SimDocument document;
    std::string error;
    ASSERT_TRUE(LoadDocumentImage(document, path, 300, error)) << error;
    ASSERT_TRUE(write("P6 2 2 255\n", {1})); /* 11 bytes short */
    SimDocument untouched = document;
    EXPECT_FALSE(LoadDocumentImage(document, path, 300, error));
    EXPECT_EQ(document.Rgb, untouched.Rgb) << "a failed load keeps the document";
    std::remove(path);
}
