/*
 * sim_models.cpp - the model table and the identity data built from it:
 * INQUIRY data and the DeviceParameterPage. Multi-byte page fields are
 * big-endian. The table is the one place that says what each simulated
 * scanner is; README.md in this directory describes the same rows.
 */
#include "sim_models.h"

#include "sim_bytes.h"

#include <cstdlib>
#include <cstring>
#include <strings.h>

/* Depth bits of SimModel::WideDepths: 10, 12 and 16 bits per sample. */
constexpr uint16_t kDepths16 = 1u << (16 - 9);
constexpr uint16_t kDepths10to16 = (1u << (10 - 9)) | (1u << (12 - 9)) | kDepths16;

static const SimModel Models[] = {
    /* 0: the default, a 600 dpi colour flatbed delivering whole-pixel lines. */
    {"flatbed600", 34, "VIRTUAL", "FLATBED 600C", "1.23",
     /*LineFormat*/ 1, /*KindBits*/ 0x00, /*ReverseX*/ false, /*Gap*/ 0,
     /*Color*/ true, /*Threshold*/ true, /*Halftone*/ true, /*Setting*/ false,
     /*ModelFlag*/ false, /*CapabilityFlag*/ false, {256, 256, 256},
     /*LampOnTime*/ true, /*Options*/ 0x00, kDepths10to16, 1,
     {{600, 1200, 1200, 1200, -240, {{5100, 7000}, {0, 0}, {0, 0}}},
      {0, 0, 0, 0, 0, {{0, 0}, {0, 0}, {0, 0}}}}},
    /* 1: a 300 dpi colour scanner sending colour-tagged segments, its sensor
     * rows 4 lines apart, its X origin at the far edge; model code 150. */
    {"tagged300", 150, "VIRTUAL", "TAGGED 300C", "2.1a",
     3, 0x20, true, 4,
     true, true, false, true,
     false, false, {256, 248, 268},
     true, 0x00, kDepths16, 1,
     {{300, 600, 600, 1000, -120, {{2550, 3510}, {0, 0}, {0, 0}}},
      {0, 0, 0, 0, 0, {{0, 0}, {0, 0}, {0, 0}}}}},
    /* 2: model code 168: two lenses, a feeder and a transparency unit. Lens 1
     * is a 1200 dpi lens over the left 4 inches of the glass. */
    {"duallens168", 168, "VIRTUAL", "DUAL LENS 168", "3.05",
     5, 0x30, false, 0,
     true, true, true, true,
     true, true, {256, 240, 280},
     true, 0x07, kDepths10to16, 2,
     {{600, 1200, 1200, 1200, -240, {{5100, 7000}, {5100, 8400}, {3000, 4200}}},
      {1200, 2400, 2400, 2400, -480, {{4800, 14000}, {0, 0}, {4800, 8400}}}}},
    /* 3: a 300 dpi grey-only scanner; its lamp page always reports the timer. */
    {"gray300", 12, "VIRTUAL", "GRAY 300", "1.00",
     1, 0x00, false, 0,
     false, true, true, false,
     false, false, {256, 256, 256},
     false, 0x00, kDepths16, 1,
     {{300, 600, 600, 1000, -120, {{2550, 3508}, {0, 0}, {0, 0}}},
      {0, 0, 0, 0, 0, {{0, 0}, {0, 0}, {0, 0}}}}},
};

int SimModelCount()
{
    return static_cast<int>(sizeof Models / sizeof Models[0]);
}

const SimModel *SimModelAt(int index)
{
    return index >= 0 && index < SimModelCount() ? &Models[index] : nullptr;
}

const SimModel *FindSimModel(const char *name)
{
    if (name == nullptr || *name == 0)
        return nullptr;
    for (const SimModel &model : Models)
        if (strcasecmp(model.Name, name) == 0)
            return &model;
    char *end = nullptr;
    long index = std::strtol(name, &end, 10);
    if (*end != 0)
        return nullptr;
    return SimModelAt(static_cast<int>(index));
}

static void PutText(uint8_t *out, size_t width, const char *text)
{
    std::memset(out, ' ', width);
    std::memcpy(out, text, std::min(width, std::strlen(text)));
}

void BuildInquiryData(const SimModel &model, uint8_t out[kSimInquiryLength])
{
    std::memset(out, 0, kSimInquiryLength);
    out[0] = 0x06; /* scanner device */
    out[2] = 0x02; /* SCSI-2 */
    out[3] = 0x02; /* response data format 2 */
    out[4] = kSimInquiryLength - 5;
    PutText(out + 8, 8, model.Vendor);
    PutText(out + 16, 16, model.Product);
    PutText(out + 32, 4, model.Revision);
    out[36] = model.Code;
}

void BuildParameterPage(const SimModel &model, unsigned lens, unsigned source,
                        uint8_t out[kSimParameterPageLength])
{
    const SimLens &optics = model.Lenses[lens];
    const SimArea &area = optics.Areas[source];
    std::memset(out, 0, kSimParameterPageLength);
    out[0] = static_cast<uint8_t>((model.Color ? 0x80 : 0) | model.KindBits | model.LineFormat);
    out[1] = model.ReverseX ? 0x01 : 0x00;
    out[2] = model.ColorLineGap;
    PutBig16(out + 3, optics.BilevelMaxX);
    PutBig16(out + 5, optics.BilevelMaxY);
    PutBig16(out + 7, area.WidthPixels);
    PutBig16(out + 9, area.LengthPixels);
    PutBig16(out + 11, optics.BaseResolution);
    out[13] = static_cast<uint8_t>((model.CanThreshold ? 0x01 : 0) | (model.CanHalftone ? 0x02 : 0) |
                                   (model.Color ? 0x08 : 0));
    out[17] = model.CanHalftone ? 0x80 : 0x00;
    out[18] = model.HasDeviceSetting ? 0x10 : 0x00;
    PutBig32(out + 19, static_cast<uint32_t>(optics.WhiteStripY));
    out[27] = model.LensCount;
    out[29] = static_cast<uint8_t>((model.ModelFlag ? 0x01 : 0) | (model.CapabilityFlag ? 0x02 : 0));
    for (int c = 0; c < 3; ++c)
        PutBig16(out + 30 + 2 * c, model.ChannelFactors[c]);
}

uint32_t SensorPixels(const SimModel &model, unsigned lens)
{
    uint32_t widest = 0;
    for (const SimArea &area : model.Lenses[lens].Areas)
        widest = std::max<uint32_t>(widest, area.WidthPixels);
    return widest;
}
