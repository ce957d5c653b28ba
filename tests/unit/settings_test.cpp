/*
 * Settings read at load from "DRVPREF.INI": defaults, the "BFApply" rule,
 * integer reading, and where the file is looked for.
 */
#include "entry/settings.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/scandrv-settings-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        directory = pattern;
        path = directory + "/DRVPREF.INI";
    }
    void TearDown() override
    {
        std::remove(path.c_str());
        rmdir(directory.c_str());
    }
    /* Writes the file (none for nullptr) and loads it over settings of 7. */
    void Load(const char *text)
    {
        if (text) {
            FILE *file = std::fopen(path.c_str(), "w");
            ASSERT_NE(file, nullptr);
            std::fputs(text, file);
            std::fclose(file);
        }
        Settings = DriverSettings{7, 7, {7, 7, 7}, 7};
        LoadSettings(path.c_str());
    }
    std::string directory, path;
};

TEST_F(SettingsFile, ReadsEveryKeyWithSectionKeysAndShadingInAnyCase)
{
    const struct { const char *Text; uint32_t ApplyInGamma; uint16_t Image, Red, Green, Blue, Calibrate; } rows[] = {
        {nullptr, 0, 0, 0, 0, 0, 0}, /* no file: the defaults; no BFApply is "Shading" */
        /* -1 and 65792 keep their low 16 bits; integers end at the first non-digit. */
        {"; tuning\n[other]\nImage=9\n[scanner]\n image = 3 \nrfactor=300\nGFactor=-1\nBFACTOR=512\nCalibrate=1\n",
         0, 3, 300, 0xFFFF, 512, 1},
        /* BFApply: clear for "Shading" in any case only. */
        {"[SCANNER]\nBFApply=sHaDiNg\n", 0, 0, 0, 0, 0, 0}, {"[SCANNER]\nBFApply=Gamma\n", 1, 0, 0, 0, 0, 0},
        {"[SCANNER]\nBFApply=\n", 1, 0, 0, 0, 0, 0},        {"[SCANNER]\nBFApply=Shading2\n", 1, 0, 0, 0, 0, 0},
        {"[SCANNER]\nRFactor=65792\nImage=12abc\nCalibrate=abc\n", 0, 12, 256, 0, 0, 0},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.Text ? row.Text : "no file");
        Load(row.Text);
        EXPECT_EQ(Settings.bfApplyInGamma, row.ApplyInGamma);
        EXPECT_EQ(Settings.Image, row.Image);
        EXPECT_EQ(Settings.Factor[0], row.Red);
        EXPECT_EQ(Settings.Factor[1], row.Green);
        EXPECT_EQ(Settings.Factor[2], row.Blue);
        EXPECT_EQ(Settings.Calibrate, row.Calibrate);
    }
    EXPECT_EQ(ReadProfileInt("SCANNER", "Image", 5, path.c_str()), 12);
    EXPECT_EQ(ReadProfileInt("SCANNER", "Missing", 5, path.c_str()), 5);
}

TEST(SettingsPath, DirectoryEndsAtTheLastSeparatorOfEitherKind)
{
    const struct { std::string Library, Settings; } rows[] = {
        {"C:\\Apps/Scan\\lib/SCANDRV.DLL", "C:\\Apps/Scan\\lib/DRVPREF.INI"},
        {"C:/Apps\\Scan\\SCANDRV.DLL", "C:/Apps\\Scan\\DRVPREF.INI"},
        {"SCANDRV.DLL", ""},
        /* 248 characters of directory and separator leave exactly room for
         * the name and the terminator. */
        {std::string(247, 'd') + "/libscandrv.so", std::string(247, 'd') + "/DRVPREF.INI"},
        {std::string(248, 'd') + "/libscandrv.so", ""},
    };
    for (const auto &row : rows) {
        char path[kMaxPath];
        EXPECT_EQ(SettingsPathFromLibraryName(row.Library.c_str(), path), !row.Settings.empty()) << row.Library;
        EXPECT_EQ(std::string(path), row.Settings) << row.Library;
    }
}

} // namespace
