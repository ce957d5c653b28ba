/*
 * sim_models.h - the table of simulated scanner models: what each one says
 * about itself (INQUIRY data, DeviceParameterPage per lens and document
 * source, the fixed bits of its LampStatusPage) and the limits its window
 * checks use. The device (sim_device) picks one row at attach and builds
 * every identity page from it; nothing else in the simulator names a model.
 */
#ifndef SIM_MODELS_H
#define SIM_MODELS_H

#include <cstdint>

/* Document sources, as page variants and as the low bits of the window's
 * source code byte. */
enum SimSource : uint8_t { kSourceFlatbed = 0, kSourceFeeder = 1, kSourceTransparency = 2 };

/* The area one source offers through one lens, at that lens's base resolution. */
struct SimArea {
    uint16_t WidthPixels;  /* 0: the source is not installed */
    uint16_t LengthPixels;
};

struct SimLens {
    uint16_t BaseResolution;   /* optical resolution, dpi */
    uint16_t BilevelMaxX;      /* highest bilevel resolution across the line */
    uint16_t BilevelMaxY;      /* ... and along the page */
    uint16_t MaxWindowResolution; /* highest resolution a window may ask for */
    int32_t WhiteStripY;       /* first line of the white reference strip, above the glass (< 0) */
    SimArea Areas[3];          /* per SimSource */
};

struct SimModel {
    const char *Name;          /* configuration name */
    uint8_t Code;              /* INQUIRY byte 36 */
    const char *Vendor;        /* INQUIRY bytes 8-15, blank padded */
    const char *Product;       /* INQUIRY bytes 16-31, blank padded */
    const char *Revision;      /* INQUIRY bytes 32-35 */
    uint8_t LineFormat;        /* page byte 0 bits 0-2: 1 or 5 whole pixels, 3 tagged segments */
    uint8_t KindBits;          /* page byte 0 bits 4-5 */
    bool ReverseX;             /* page byte 1 bit 0: the X origin lies at the far edge */
    uint8_t ColorLineGap;      /* page byte 2: lines between the colour sensor rows, base resolution */
    bool Color;                /* three sensor rows; page byte 13 bit 3 and byte 0 bit 7 */
    bool CanThreshold;         /* page byte 13 bit 0 */
    bool CanHalftone;          /* page byte 13 bit 1 and byte 17 bit 7 */
    bool HasDeviceSetting;     /* page byte 18 bit 4: lamp page byte 2 carries a setting */
    bool ModelFlag;            /* page byte 29 bit 0 */
    bool CapabilityFlag;       /* page byte 29 bit 1 */
    uint16_t ChannelFactors[3];/* page bytes 30-35, 1/256 */
    bool ReportsLampOnTime;    /* honours lamp page byte 1 bit 4 */
    uint8_t Options;           /* lamp page byte 5 bits 0-2 */
    uint16_t WideDepths;       /* bit d-9 set: d bits per sample (d = 10 ... 16) may be asked for */
    uint8_t LensCount;
    SimLens Lenses[2];
};

/* Lines the white reference strip is tall, at base resolution. */
constexpr int32_t kWhiteStripLines = 120;
/* The reference area above the glass starts this many lines up; windows
 * reach no higher. Lenses finer than 600 dpi reach as far in inches (two
 * thirds of an inch), so their white strip and the dark pass fit too. */
constexpr int32_t kReferenceAreaLines = 400;
constexpr int32_t kReferenceAreaDpi = 600;

int SimModelCount();
const SimModel *SimModelAt(int index);
/* A model by its name or by its index written in decimal; null when none. */
const SimModel *FindSimModel(const char *name);

constexpr uint32_t kSimInquiryLength = 37;
constexpr uint32_t kSimParameterPageLength = 40;

void BuildInquiryData(const SimModel &model, uint8_t out[kSimInquiryLength]);
/* The DeviceParameterPage for a lens and a source; the caller has checked both. */
void BuildParameterPage(const SimModel &model, unsigned lens, unsigned source,
                        uint8_t out[kSimParameterPageLength]);

inline bool SourceInstalled(const SimModel &model, unsigned lens, unsigned source)
{
    return lens < model.LensCount && source < 3 && model.Lenses[lens].Areas[source].WidthPixels != 0;
}

/* Widest area any source offers through the lens: the sensor's pixel count. */
uint32_t SensorPixels(const SimModel &model, unsigned lens);

#endif
