/*
 * Settings read at load from "DRVPREF.INI": defaults, the "BFApply" rule,
 * integer reading, and where the file is looked for.
 */
#include "entry/settings.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
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
        Settings = DriverSettings{7, 7, {7, 7, 7}, 7};
    }
    void TearDown() override
    {
        std::remove(path.c_str());
        rmdir(directory.c_str());
    }
    void Write(const std::string &text)
    {
        FILE *file = std::fopen(path.c_str(), "w");
        ASSERT_NE(file, nullptr);
        std::fputs(text.c_str(), file);
        std::fclose(file);
    }
    std::string directory, path;
};

TEST_F(SettingsFile, MissingFileGivesDefaults)
{
    LoadSettings(path.c_str());
    EXPECT_EQ(Settings.bfApplyInGamma, 0u);
    EXPECT_EQ(Settings.Image, 0);
    EXPECT_EQ(Settings.Factor[0], 0);
    EXPECT_EQ(Settings.Factor[1], 0);
    EXPECT_EQ(Settings.Factor[2], 0);
    EXPECT_EQ(Settings.Calibrate, 0);
}

TEST_F(SettingsFile, ApplyFlagIsClearOnlyForShadingInAnyCase)
{
    const struct {
        const char *value;
        uint32_t flag;
    } cases[] = {{"Shading", 0}, {"SHADING", 0}, {"sHaDiNg", 0}, {"Gamma", 1}, {"", 1}, {"Shading2", 1}};
    for (const auto &c : cases) {
        Write(std::string("[SCANNER]\nBFApply=") + c.value + "\n");
        LoadSettings(path.c_str());
        EXPECT_EQ(Settings.bfApplyInGamma, c.flag) << "BFApply=" << c.value;
    }
}

TEST_F(SettingsFile, ReadsEveryKeyWithSectionAndKeysInAnyCase)
{
    Write("; scanner tuning\n[other]\nImage=9\n[scanner]\n image = 3 \nrfactor=300\nGFactor=-1\n"
          "BFACTOR=512\nCalibrate=1\n");
    LoadSettings(path.c_str());
    EXPECT_EQ(Settings.Image, 3);
    EXPECT_EQ(Settings.Factor[0], 300);
    EXPECT_EQ(Settings.Factor[1], 0xFFFF); /* -1 keeps its low 16 bits */
    EXPECT_EQ(Settings.Factor[2], 512);
    EXPECT_EQ(Settings.Calibrate, 1);
}

TEST_F(SettingsFile, FactorKeepsOnlyItsLow16Bits)
{
    Write("[SCANNER]\nRFactor=65792\n");
    LoadSettings(path.c_str());
    EXPECT_EQ(Settings.Factor[0], 256);
}

TEST_F(SettingsFile, IntegersReadTheirLeadingDigits)
{
    Write("[SCANNER]\nImage=12abc\nCalibrate=abc\nRFactor=-7\n");
    LoadSettings(path.c_str());
    EXPECT_EQ(Settings.Image, 12);
    EXPECT_EQ(Settings.Calibrate, 0);
    EXPECT_EQ(ReadProfileInt("SCANNER", "RFactor", 5, path.c_str()), -7);
    EXPECT_EQ(ReadProfileInt("SCANNER", "Missing", 5, path.c_str()), 5);
}

TEST(SettingsPath, DirectoryEndsAtTheLastSeparatorOfEitherKind)
{
    char path[kMaxPath];
    ASSERT_TRUE(SettingsPathFromLibraryName("C:\\Apps\\Scan\\SCANDRV.DLL", path));
    EXPECT_STREQ(path, "C:\\Apps\\Scan\\DRVPREF.INI");
    ASSERT_TRUE(SettingsPathFromLibraryName("C:/Apps/Scan/SCANDRV.DLL", path));
    EXPECT_STREQ(path, "C:/Apps/Scan/DRVPREF.INI");
    ASSERT_TRUE(SettingsPathFromLibraryName("C:\\Apps/Scan\\lib/SCANDRV.DLL", path));
    EXPECT_STREQ(path, "C:\\Apps/Scan\\lib/DRVPREF.INI");
    ASSERT_TRUE(SettingsPathFromLibraryName("C:/Apps\\Scan\\SCANDRV.DLL", path));
    EXPECT_STREQ(path, "C:/Apps\\Scan\\DRVPREF.INI");
    EXPECT_FALSE(SettingsPathFromLibraryName("SCANDRV.DLL", path));
    EXPECT_STREQ(path, "");
}

TEST(SettingsPath, OverlongDirectoryReadsNoFile)
{
    char path[kMaxPath];
    /* 248 characters of directory (with its separator) leave exactly room
     * for the 11-character name and the terminator; 249 do not. */
    std::string fits = std::string(247, 'd') + "/";
    ASSERT_TRUE(SettingsPathFromLibraryName((fits + "libscandrv.so").c_str(), path));
    EXPECT_EQ(std::string(path), fits + "DRVPREF.INI");
    std::string tooLong = std::string(248, 'd') + "/";
    EXPECT_FALSE(SettingsPathFromLibraryName((tooLong + "libscandrv.so").c_str(), path));
    EXPECT_STREQ(path, "");
}

} // namespace
