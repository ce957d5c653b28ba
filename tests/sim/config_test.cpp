/*
 * config_test.cpp - configuration keys and their environment variables,
 * image files as documents, and the adapter library itself, loaded the way
 * an application loads it.
 */
#include "sim_host.h"

#include "sim_config.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <dlfcn.h>
#include <map>
#include <unistd.h>

#ifdef SIM_HAVE_PNG
#include <png.h>
#endif

namespace {

std::string TempPath(const char *suffix)
{
    char path[] = "/tmp/sim_doc_XXXXXX";
    int fd = mkstemp(path);
    close(fd);
    std::remove(path);
    return std::string(path) + suffix;
}

/* A 4 x 3 image, every pixel distinct. */
uint8_t ImagePixel(uint32_t x, uint32_t y, uint32_t c) { return static_cast<uint8_t>(20 * x + 70 * y + 5 * c); }

std::vector<uint8_t> ScanDocumentCorner(SimHost &host)
{
    /* At the image's own 100 dpi: 6 x 4 pixels, the rest white lid. */
    WindowRequest w;
    w.Resolution = 100;
    w.Width = 36;
    w.Length = 24;
    return host.Scan(w);
}

void ExpectImageOnGlass(const std::vector<uint8_t> &scan)
{
    ASSERT_EQ(scan.size(), 6u * 4 * 3);
    for (uint32_t y = 0; y < 4; ++y)
        for (uint32_t x = 0; x < 6; ++x)
            for (uint32_t c = 0; c < 3; ++c) {
                uint8_t expected = x < 4 && y < 3 ? ImagePixel(x, y, c) : 255;
                EXPECT_EQ(scan[(y * 6 + x) * 3 + c], expected) << x << "," << y << "," << c;
            }
}

} // namespace

TEST(Config, KeysAndTheValuesTheyRefuse)
{
    SimHost host;
    struct Case {
        const char *Key, *Value;
        int Result;
    };
    const Case cases[] = {
        {"model", "tagged300", 0}, {"model", "2", 0}, {"model", "attach", 0}, {"model", "9", -2},
        {"model", "nosuch", -2},   {"noise", "off", 0}, {"noise", "maybe", -2}, {"sensor", "flat", 0},
        {"sensor", "rough", -2},   {"seed", "77", 0},   {"seed", "-1", -2},     {"segment_order", "gbr", 0},
        {"segment_order", "RGBR", -2}, {"paper", "absent", 0}, {"paper", "lost", -2}, {"event", "255", 0},
        {"event", "256", -2},      {"clock", "manual", 0}, {"clock", "fast", -2}, {"advance", "10", 0},
        {"advance", "ten", -2},    {"document_dpi", "0", -2}, {"document", "/nonexistent.pnm", -2},
        {"document", "chart", 0},  {"faults", "busy:1;early_end:3", 0}, {"fault", "nonsense", -2},
        {"trace", "/nonexistent/dir/trace", -2}, {"trace_bytes", "16", 0}, {"reset", "", 0},
        {"feeder_pages", "3", 0},  {"feeder_pages", "10000", -2}, {"feeder_pages", "many", -2},
        {"fault", "jam:2", 0},     {"fault", "jam:2:40", 0}, {"fault", "jam:0", -2}, {"fault", "jam:2:0", -2},
        {"fault", "jam:off", 0},   {"colour", "on", -1},
    };
    for (const Case &c : cases) {
        std::string error;
        EXPECT_EQ(SimConfigureDevice(host.Device, c.Key, c.Value, error), c.Result) << c.Key << "=" << c.Value;
        EXPECT_EQ(error.empty(), c.Result == 0) << c.Key << "=" << c.Value;
    }
}

TEST(Config, EnvironmentVariablesSetTheSameKeys)
{
    static std::map<std::string, std::string> environment;
    environment = {{"SCANDRV_SIM_MODEL", "gray300"},
                   {"SCANDRV_SIM_FAULTS", "busy:2"},
                   {"SCANDRV_SIM_FEEDER_PAGES", "4"},
                   {"SCANDRV_SIM_NOISE", "loud"},
                   {"SCANDRV_SIM_UNRELATED", "x"}};
    static std::vector<std::string> reports;
    reports.clear();
    SimHost host;
    int refused = SimConfigureFromEnvironment(
        host.Device,
        [](const char *name) -> const char * {
            auto it = environment.find(name);
            return it == environment.end() ? nullptr : it->second.c_str();
        },
        [](const char *message) { reports.push_back(message); });
    EXPECT_EQ(refused, 1);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("SCANDRV_SIM_NOISE"), std::string::npos) << reports[0];
    EXPECT_TRUE(host.Device.Settings.Noise);
    EXPECT_EQ(host.Device.Feeder.Stack, 4u);
    uint8_t data[37];
    EXPECT_EQ(host.Inquiry(data), BUSLNK_BUSY);
    EXPECT_EQ(host.Inquiry(data), BUSLNK_BUSY);
    ASSERT_EQ(host.Inquiry(data), BUSLNK_GOOD);
    EXPECT_EQ(data[36], 12);
}

TEST(Document, PnmFileLiesAtTheTopLeftOfTheGlass)
{
    std::string path = TempPath(".ppm");
    FILE *file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fprintf(file, "P6\n# a comment\n4 3\n255\n");
    for (uint32_t y = 0; y < 3; ++y)
        for (uint32_t x = 0; x < 4; ++x)
            for (uint32_t c = 0; c < 3; ++c)
                std::fputc(ImagePixel(x, y, c), file);
    std::fclose(file);
    SimHost host;
    host.Configure("sensor", "ideal");
    host.Configure("noise", "off");
    host.Configure("document_dpi", "100");
    host.Configure("document", path.c_str());
    ExpectImageOnGlass(ScanDocumentCorner(host));
    std::remove(path.c_str());
}

TEST(Document, GreyPnmAndBrokenFiles)
{
    std::string path = TempPath(".pgm");
    FILE *file = std::fopen(path.c_str(), "wb");
    std::fprintf(file, "P5 2 1 15\n");
    std::fputc(0, file);
    std::fputc(15, file);
    std::fclose(file);
    SimDocument document;
    std::string error;
    ASSERT_TRUE(LoadDocumentImage(document, path, 300, error)) << error;
    EXPECT_EQ(DocumentColor(document, 0, 0), (SimRgb{0, 0, 0}));
    EXPECT_EQ(DocumentColor(document, 40, 0), (SimRgb{255, 255, 255}));
    file = std::fopen(path.c_str(), "wb");
    std::fprintf(file, "P6 2 2 255\n");
    std::fputc(1, file); /* 11 bytes short */
    std::fclose(file);
    SimDocument untouched = document;
    EXPECT_FALSE(LoadDocumentImage(document, path, 300, error));
    EXPECT_EQ(document.Rgb, untouched.Rgb) << "a failed load keeps the document";
    std::remove(path.c_str());
}

#ifdef SIM_HAVE_PNG
TEST(Document, PngFile)
{
    std::string path = TempPath(".png");
    std::vector<uint8_t> rgb(4 * 3 * 3);
    for (uint32_t y = 0; y < 3; ++y)
        for (uint32_t x = 0; x < 4; ++x)
            for (uint32_t c = 0; c < 3; ++c)
                rgb[(y * 4 + x) * 3 + c] = ImagePixel(x, y, c);
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = 4;
    image.height = 3;
    image.format = PNG_FORMAT_RGB;
    ASSERT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr));
    SimHost host;
    host.Configure("sensor", "ideal");
    host.Configure("noise", "off");
    host.Configure("document_dpi", "100");
    host.Configure("document", path.c_str());
    ExpectImageOnGlass(ScanDocumentCorner(host));
    std::remove(path.c_str());
}
#endif

TEST(Library, ExportsTheAdapterEntryPointsAndSimConfigure)
{
    void *library = dlopen(SIM_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    auto attach = reinterpret_cast<decltype(&BusLinkAttach)>(dlsym(library, "BusLinkAttach"));
    auto execute = reinterpret_cast<decltype(&BusLinkExecute)>(dlsym(library, "BusLinkExecute"));
    auto configure = reinterpret_cast<decltype(&SimConfigure)>(dlsym(library, "SimConfigure"));
    ASSERT_TRUE(attach && execute && configure);
    EXPECT_EQ(dlsym(library, "SimExecute"), nullptr) << "the device model stays hidden";

    AttachRecord record{7, 0, 2, 1};
    EXPECT_EQ(attach(&record), BUSLNK_GOOD);
    uint8_t cdb[6] = {0x12, 0, 0, 0, 37, 0};
    uint8_t data[37] = {};
    CommandRecord command{1, 6, cdb};
    TransferRecord in{37, data}, out{0, nullptr};
    ASSERT_EQ(execute(&command, &in, &out), BUSLNK_GOOD);
    EXPECT_EQ(data[36], 168);
    EXPECT_EQ(configure("model", "gray300"), 0);
    ASSERT_EQ(execute(&command, &in, &out), BUSLNK_GOOD);
    EXPECT_EQ(data[36], 12);
    EXPECT_EQ(configure("no such key", "1"), -1);
    EXPECT_EQ(configure("noise", "sometimes"), -2);
    EXPECT_EQ(execute(nullptr, &in, &out), BUSLNK_FAILURE);
    EXPECT_EQ(attach(nullptr), BUSLNK_FAILURE);
    dlclose(library);
}
