/*
 * settings.cpp - reads the user-tunable settings once per process attach from
 * "DRVPREF.INI", section "SCANNER", in the library's own directory.
 */
#include "settings.h"

#include "platform/platform.h"

#include <cstring>
#include <strings.h>

DriverSettings Settings = {0, 0, {0, 0, 0}, 0};

static const char kSettingsFile[] = "DRVPREF.INI";
static const char kSection[] = "SCANNER";

void LoadSettings(const char *fileName)
{
    /* "BFApply" is read into 16 characters; anything but "Shading" in any
     * case (an empty value included) applies the factors in the gamma curve. */
    char apply[16];
    ReadProfileString(kSection, "BFApply", "Shading", apply, sizeof apply, fileName);
    Settings.bfApplyInGamma = strcasecmp(apply, "Shading") == 0 ? 0 : 1;
    Settings.Image = ReadProfileInt(kSection, "Image", 0, fileName);
    /* Factors keep only their low 16 bits: 65536 + 256 is 256. */
    Settings.Factor[0] = static_cast<uint16_t>(ReadProfileInt(kSection, "RFactor", 0, fileName));
    Settings.Factor[1] = static_cast<uint16_t>(ReadProfileInt(kSection, "GFactor", 0, fileName));
    Settings.Factor[2] = static_cast<uint16_t>(ReadProfileInt(kSection, "BFactor", 0, fileName));
    Settings.Calibrate = ReadProfileInt(kSection, "Calibrate", 0, fileName);
}

bool SettingsPathFromLibraryName(const char *libraryName, char *path)
{
    path[0] = '\0';
    const char *lastSeparator = nullptr;
    for (const char *c = libraryName; *c; ++c)
        if (*c == '\\' || *c == '/')
            lastSeparator = c;
    if (!lastSeparator)
        return false;
    size_t directoryLength = static_cast<size_t>(lastSeparator - libraryName) + 1;
    /* A directory of more than 248 characters leaves no room for the file
     * name and its terminator in a 260-character path. Rather than read a
     * cut-off name that might be some other file, such a library reads no
     * settings file and keeps the defaults. */
    if (directoryLength + sizeof kSettingsFile > kMaxPath)
        return false;
    std::memcpy(path, libraryName, directoryLength);
    std::memcpy(path + directoryLength, kSettingsFile, sizeof kSettingsFile);
    return true;
}

void LoadSettingsBesideLibrary()
{
    Settings = DriverSettings{0, 0, {0, 0, 0}, 0};
    char libraryName[kMaxPath];
    char path[kMaxPath];
    uint32_t length = GetLibraryFileName(libraryName, kMaxPath);
    /* A name that filled the whole buffer may have been cut short. */
    if (length == 0 || length >= kMaxPath - 1 || !SettingsPathFromLibraryName(libraryName, path))
        return;
    LoadSettings(path);
}

void DriverProcessAttach()
{
    LoadSettingsBesideLibrary();
}
