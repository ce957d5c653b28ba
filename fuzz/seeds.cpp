/*
 * seeds.cpp - the seed sessions; see seeds.h.
 */
#include "seeds.h"

#include "scandrv.h"

#include <cstring>

namespace fuzzsession {

namespace {

void PutBig16(uint8_t *at, uint16_t value)
{
    at[0] = static_cast<uint8_t>(value >> 8);
    at[1] = static_cast<uint8_t>(value);
}

/* Both scans alike. */
template <typename Change> void EachScan(SessionScript &s, Change change)
{
    change(s.Scan[0]);
    change(s.Scan[1]);
}

/* The number (from 1) of the n-th command of a session that matches. */
uint16_t NthCommand(const SessionScript &script, uint8_t opcode, uint8_t type, bool withData, int n)
{
    std::vector<uint8_t> bytes = EncodeSession(script);
    SessionOutcome probe = RunSession(bytes.data(), bytes.size());
    for (size_t i = 0; i < probe.Commands.size(); ++i) {
        const CommandNote &c = probe.Commands[i];
        if (c.Opcode == opcode && c.DataType == type && (c.Length > 0) == withData && --n == 0)
            return static_cast<uint16_t>(i + 1);
    }
    return 0;
}

Seed Make(const std::string &name, const SessionScript &script, bool complete = true)
{
    Seed seed;
    seed.Name = name;
    seed.Script = script;
    seed.ScansComplete = complete;
    return seed;
}

} // namespace

SessionScript WellBehavedSession()
{
    SessionScript s;
    std::memset(&s, 0, sizeof s);
    s.InquiryType = 6;
    s.InquiryVersion = 2;
    s.InquiryFormat = 2;
    std::memcpy(s.Revision, "1.23", 4);
    s.Model = 100;

    s.PageCount = 1;
    uint8_t *page = s.Page[0];
    page[0] = 0x80 | 0x01; /* colour by default, whole-pixel colour lines */
    PutBig16(page + 3, 600); /* bilevel maxima */
    PutBig16(page + 5, 600);
    PutBig16(page + 7, 510); /* 1.7 x 11 inch glass */
    PutBig16(page + 9, 3300);
    PutBig16(page + 11, 300);
    page[13] = 0x01 | 0x02 | 0x08; /* threshold, halftone and colour in the scanner */
    page[17] = 0x80;
    page[27] = 1;
    s.LampCount = 1;
    s.Lamp[0][0] = 0x21; /* lamp 1 on; the calibration holds */
    s.GeometryCount = 1;
    s.Geometry[0].Mode = kGeometryFromWindow;
    for (int i = 0; i < 8; ++i)
        s.Fill[i] = static_cast<uint8_t>(17 + 40 * i);

    s.DefaultSource = SD_SOURCE_FLATBED;
    s.CapFeatures = SD_CAPS_EXTENDED;
    s.CapSetting = 0xFFFF;
    s.CapLists = 0x1F;
    s.LampState = SD_LAMP_1;
    s.LampTimer = 900;

    EachScan(s, [](ScanRequest &r) {
        r.ImageType = SD_IMAGE_RED;
        r.ScanSource = SD_SOURCE_FLATBED;
        r.BitsPerPixel = 8;
        r.HalftoneMode = SD_HALFTONE_THRESHOLD;
        r.HalftonePattern = 5;
        r.Resolution = 250;
        r.Right = 999;  /* one inch: 250 pixels */
        r.Bottom = 99; /* 25 lines */
        r.Flags = SD_FLAG_DEFAULT;
        r.TableSeed = 3;
        r.Calls = 4;
        r.Request[0] = 1;
        r.Request[1] = 7;
        r.Request[2] = 0;
        r.Request[3] = 40;
    });
    return s;
}

std::vector<Seed> SeedSessions()
{
    std::vector<Seed> seeds;
    const SessionScript base = WellBehavedSession();
    SessionScript s;

    seeds.push_back(Make("grey-direct", base));

    s = base;
    EachScan(s, [](ScanRequest &r) { r.BitsPerPixel = 12; });
    seeds.push_back(Make("grey-wide", s));

    s = base;
    EachScan(s, [](ScanRequest &r) { r.ImageType = SD_IMAGE_COLOR; });
    seeds.push_back(Make("colour-whole-pixel", s));

    /* Separate sensor lines 2 lines apart at 300 dpi: one line at 250. */
    s = base;
    s.Page[0][0] = 0x80 | 0x03;
    s.Page[0][2] = 2;
    s.Tags = kTagsGap;
    s.TagGap = 1;
    EachScan(s, [](ScanRequest &r) { r.ImageType = SD_IMAGE_COLOR; });
    seeds.push_back(Make("colour-tagged", s));
    EachScan(s, [](ScanRequest &r) { r.BitsPerPixel = 16; });
    seeds.push_back(Make("colour-tagged-wide", s));

    /* Tags in plain red, green, blue order, no gap. */
    s = base;
    s.Page[0][0] = 0x80 | 0x03;
    s.Tags = kTagsScript;
    s.TagScriptLength = 3;
    std::memcpy(s.TagScript, "RGB", 3);
    EachScan(s, [](ScanRequest &r) { r.ImageType = SD_IMAGE_COLOR; });
    seeds.push_back(Make("colour-tagged-in-order", s));

    /* The scanner has no threshold: the driver makes the bits. */
    s = base;
    s.Page[0][13] = 0x08;
    EachScan(s, [](ScanRequest &r) { r.BitsPerPixel = 1; });
    seeds.push_back(Make("binarized-by-driver-threshold", s));
    EachScan(s, [](ScanRequest &r) {
        r.HalftoneMode = SD_HALFTONE_BUILTIN;
        r.HalftonePattern = 10;
    });
    seeds.push_back(Make("binarized-by-driver-pattern", s));
    EachScan(s, [](ScanRequest &r) {
        r.HalftoneMode = SD_HALFTONE_CALLER;
        r.PatternSize = 4;
        r.Pointers = kGivePattern;
    });
    seeds.push_back(Make("binarized-by-driver-caller-pattern", s));
    /* Above the scanner's bilevel maximum, by insert-and-drop. */
    EachScan(s, [](ScanRequest &r) {
        r.HalftoneMode = SD_HALFTONE_THRESHOLD;
        r.Resolution = 700;
        r.Bottom = 29;
    });
    seeds.push_back(Make("binarized-by-driver-enlarged", s));

    s = base;
    EachScan(s, [](ScanRequest &r) { r.BitsPerPixel = 1; });
    seeds.push_back(Make("binary-by-scanner-threshold", s));
    EachScan(s, [](ScanRequest &r) {
        r.HalftoneMode = SD_HALFTONE_BUILTIN;
        r.HalftonePattern = 11;
    });
    seeds.push_back(Make("binary-by-scanner-pattern", s));
    EachScan(s, [](ScanRequest &r) {
        r.HalftoneMode = SD_HALFTONE_CALLER;
        r.PatternSize = 3;
        r.Pointers = kGivePattern;
    });
    seeds.push_back(Make("binary-by-scanner-caller-pattern", s));

    /* 600 dpi from a 300 dpi scanner scanning at 500: uniform enlargement. */
    s = base;
    EachScan(s, [](ScanRequest &r) {
        r.Resolution = 600;
        r.Bottom = 49;
    });
    seeds.push_back(Make("grey-scaled-up", s));
    EachScan(s, [](ScanRequest &r) { r.ImageType = SD_IMAGE_COLOR; });
    seeds.push_back(Make("colour-scaled-up", s));
    EachScan(s, [](ScanRequest &r) { r.BitsPerPixel = 16; });
    seeds.push_back(Make("colour-wide-scaled-up", s));

    /* 100 dpi from a scan at 250: insert-and-drop reduction. */
    s = base;
    EachScan(s, [](ScanRequest &r) { r.Resolution = 100; });
    seeds.push_back(Make("grey-scaled-down", s));
    EachScan(s, [](ScanRequest &r) { r.ImageType = SD_IMAGE_COLOR; });
    seeds.push_back(Make("colour-scaled-down", s));

    /* 251 pixels from 250: one inserted pixel, lines equal. */
    s = base;
    EachScan(s, [](ScanRequest &r) { r.Right = 1003; });
    seeds.push_back(Make("grey-widened-by-insert", s));

    /* A scanner whose origin is at the far edge. */
    s = base;
    s.Page[0][1] = 0x01;
    seeds.push_back(Make("grey-mirrored", s));
    EachScan(s, [](ScanRequest &r) { r.ImageType = SD_IMAGE_COLOR; });
    seeds.push_back(Make("colour-mirrored", s));
    s.Page[0][0] = 0x80 | 0x03;
    s.Page[0][2] = 2;
    s.Tags = kTagsGap;
    s.TagGap = 1;
    seeds.push_back(Make("colour-tagged-mirrored", s));
    s = base;
    s.Page[0][1] = 0x01;
    s.Page[0][13] = 0x08;
    EachScan(s, [](ScanRequest &r) { r.BitsPerPixel = 1; });
    seeds.push_back(Make("binarized-by-driver-mirrored", s));

    /* The scanner wants calibrating: white and dark passes, both tables. */
    s = base;
    s.Lamp[0][0] = 0x01;
    seeds.push_back(Make("grey-calibrated", s));
    EachScan(s, [](ScanRequest &r) { r.ImageType = SD_IMAGE_COLOR; });
    seeds.push_back(Make("colour-calibrated", s));
    s.Model = 168; /* colour shading goes out in three pieces */
    s.ApplyInGamma = 1;
    s.Factor[0] = 300;
    seeds.push_back(Make("colour-calibrated-model-168", s));
    /* The first alternative source calibrates three channels. */
    s = base;
    s.Lamp[0][0] = 0x01;
    s.Lamp[0][5] = 0x03;
    s.Lamp[0][6] = 0x01;
    EachScan(s, [](ScanRequest &r) { r.ScanSource = SD_SOURCE_ALT1; });
    seeds.push_back(Make("grey-calibrated-first-alternative-source", s));
    s = base;
    s.Lamp[0][5] = 0x05;
    EachScan(s, [](ScanRequest &r) { r.ScanSource = SD_SOURCE_ALT2; });
    seeds.push_back(Make("grey-second-alternative-source", s));

    /* The caller's gamma table and tone levels. */
    s = base;
    EachScan(s, [](ScanRequest &r) {
        r.Pointers = kGiveGammaTable | kGiveToneLevels;
        r.Flags = SD_FLAG_DEFAULT | SD_FLAG_GAMMA | SD_FLAG_SHADOW | SD_FLAG_MIDTONE | SD_FLAG_HIGHLIGHT;
        for (int i = 0; i < 9; ++i)
            r.ToneLevels[i] = static_cast<uint16_t>(i < 3 ? 10 : i < 6 ? 120 : 240);
        r.Adjust[1] = 20;
    });
    seeds.push_back(Make("grey-caller-gamma-and-tones", s));
    EachScan(s, [](ScanRequest &r) {
        r.ImageType = SD_IMAGE_COLOR;
        r.BitsPerPixel = 16;
        r.GammaScale = 16;
    });
    seeds.push_back(Make("colour-wide-caller-gamma-4096", s));
    s = base;
    s.Page[0][13] = 0x08;
    EachScan(s, [](ScanRequest &r) {
        r.BitsPerPixel = 1;
        r.Pointers = kGiveGammaTable;
        r.Flags = SD_FLAG_DEFAULT | SD_FLAG_GAMMA;
        r.GammaScale = 4;
    });
    seeds.push_back(Make("binarized-by-driver-tone-map", s));

    /* A model whose transfers go in large reads, rescaled. */
    s = base;
    s.Page[0][29] = 0x01;
    EachScan(s, [](ScanRequest &r) {
        r.Resolution = 100;
        r.Flags = SD_FLAG_DEFAULT | SD_FLAG_LAMP_OPTION;
    });
    seeds.push_back(Make("grey-model-flag-large-reads", s));

    /* The scanner ends the first image after 3 of its 25 lines. */
    s = base;
    EachScan(s, [](ScanRequest &r) { r.Request[0] = 5; });
    s.FaultCount = 1;
    s.Faults[0].Command = NthCommand(s, 0x28, 0x00, true, 1);
    s.Faults[0].Status = 1;
    s.Faults[0].Asc = 0x00;
    s.Faults[0].Ascq = 0x05;
    s.Faults[0].Information = 3 * 250;
    s.Faults[0].DataLimit = 3 * 250;
    seeds.push_back(Make("grey-early-end", s, false));
    /* The same in a buffered, reduced colour scan. */
    s = base;
    EachScan(s, [](ScanRequest &r) {
        r.ImageType = SD_IMAGE_COLOR;
        r.Resolution = 100;
    });
    s.FaultCount = 1;
    s.Faults[0].Command = NthCommand(s, 0x28, 0x00, true, 1);
    s.Faults[0].Status = 1;
    s.Faults[0].Ascq = 0x05;
    s.Faults[0].Information = 7 * 750;
    s.Faults[0].DataLimit = 7 * 750;
    seeds.push_back(Make("colour-buffered-early-end", s, false));

    /* A busy scanner, a failing adapter, a check condition with a lamp
     * failure and a status the driver passes on. */
    s = base;
    s.FaultCount = 4;
    s.Faults[0] = {2, 3, 0, 0, 0, 0, 0xFFFFFFFF};
    s.Faults[1] = {NthCommand(base, 0x28, 0x80, true, 2), 2, 0, 0, 0, 0, 0xFFFFFFFF};
    s.Faults[2] = {NthCommand(base, 0x2A, 0x03, true, 1), 1, 0x60, 0x00, 0, 0, 0xFFFFFFFF};
    s.Faults[3] = {NthCommand(base, 0x28, 0x00, true, 2), 7, 0, 0, 0, 0, 0xFFFFFFFF};
    seeds.push_back(Make("scanner-faults", s, false));

    /* Every call out of order that a careless application makes. */
    s = base;
    s.Order = 0xFF;
    s.Lens = 1;
    seeds.push_back(Make("calls-out-of-order", s, false));
    return seeds;
}

} // namespace fuzzsession
