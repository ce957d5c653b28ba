/*
 * sim_image.h - the scan window and the image engine. A window is checked
 * against the model and kept; when the host reads image data the engine
 * streams the lines the window describes, generating each one only when the
 * host's READ reaches it: sensor samples of the document (or of the
 * reference strip above the glass), the shading correction and gamma table
 * the host sent, reduction to the window's depth or to bits, and the model's
 * line layout (whole pixels, or colour-tagged segments with the sensor rows'
 * line gap). The window's tone controls shape the corrected samples before
 * the gamma table. Calibration windows deliver the raw 16-bit samples instead.
 */
#ifndef SIM_IMAGE_H
#define SIM_IMAGE_H

#include "sim_chart.h"
#include "sim_models.h"
#include "sim_sensor.h"
#include "sim_tone.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

constexpr uint32_t kWindowListLength = 69;
constexpr uint32_t kWindowDescriptorLength = 61;
constexpr uint16_t kMinResolution = 15;

/* Image compositions of window byte 33. */
enum : uint8_t { kBilevel = 0, kDithered = 1, kGrey = 2, kColor = 5 };

/* Window byte 39: bits 0-3 the source, bit 4 always set, bit 5 raw samples
 * for calibration (no correction, no gamma). */
constexpr uint8_t kSourceCodeBase = 0x10;
constexpr uint8_t kSourceCodeRaw = 0x20;

/* An additional sense code and qualifier; {0, 0} is no error. */
struct SimSenseCode {
    uint8_t Asc = 0, Ascq = 0;
    bool operator==(const SimSenseCode &other) const = default;
};

struct SimWindow {
    uint16_t ResolutionX = 0, ResolutionY = 0; /* dpi */
    int32_t X = 0, Y = 0;          /* upper left, pixels and lines at base resolution; Y < 0 above the glass */
    uint32_t Width = 0, Length = 0;/* pixels and lines at base resolution */
    uint8_t Threshold = 128;       /* bilevel: a pixel darker than this is 1 */
    uint8_t Composition = kGrey;
    uint8_t Depth = 8;             /* bits per sample */
    uint8_t Lens = 0;
    uint8_t Source = kSourceFlatbed;
    bool Raw = false;              /* calibration window: raw 16-bit samples */
    SimTone Tone[3];               /* per sensor row; a single-channel window sets all three alike */
};

/* Reads and checks a 69-byte window parameter list. Returns {0, 0} and fills
 * the window when the scanner accepts it, else the sense of the refusal. */
SimSenseCode ParseWindow(const SimModel &model, const uint8_t *list, SimWindow &window);

/* What the ImageGeometryPage reports, and how the stream is cut into units
 * (a line, or one colour segment of a line). */
struct SimGeometry {
    uint32_t Pixels = 0, LineBytes = 0, Lines = 0;
    uint32_t Rows = 1;        /* sensor rows per line: 3 for colour */
    uint32_t SampleBytes = 1; /* 0 for bilevel lines */
    bool Segmented = false;   /* colour-tagged segments, three units per line */
    uint32_t UnitBytes = 0, Units = 0;
};
SimGeometry WindowGeometry(const SimModel &model, const SimWindow &window);
/* Lines the colour rows lie apart at the window's resolution. */
uint32_t ScanLineGap(const SimModel &model, const SimWindow &window);

/* The correction words the host last sent, per sensor row and site, as sent:
 * the offset word (bit 14: the gain exceeds 131070) and the gain word. */
struct SimShading {
    std::vector<uint16_t> Offset[3];
    std::vector<uint16_t> Gain[3];
};

/* Decodes one site's words into the offset to subtract and the gain G, in
 * units of 1/65535 (65535 leaves the sample as it is). */
inline void DecodeCorrection(uint16_t offsetWord, uint16_t gainWord, uint32_t &offset, uint32_t &gain)
{
    offset = offsetWord & ~0x4000u;
    gain = (offsetWord & 0x4000u) ? gainWord + 131070u : gainWord + 65535u;
}

typedef std::array<uint16_t, 65536> SimGammaTable;

/* Everything outside the window that shapes a scan; the device owns it and
 * the scan keeps pointers into it. */
struct SimScanInputs {
    const SimModel *Model = nullptr;
    const SimSensor *Sensor = nullptr;
    const SimDocument *Document = nullptr;
    uint32_t FeederPage = 0;  /* a feeder page's number (its document carries it); 0 on the glass */
    const SimShading *Shading = nullptr;
    const SimGammaTable *Gamma = nullptr; /* three tables, red, green, blue */
    const uint8_t *Pattern = nullptr;     /* Side x Side halftone thresholds */
    uint8_t PatternSide = 0;
    bool Dark = false;        /* the light is shut off the sensor (calibration dark pass) */
    bool Noise = true;
    uint32_t NoiseKey = 0;    /* tells this pass's noise from other passes' */
    char SegmentOrder[3] = {'R', 'G', 'B'}; /* order of the segments that arrive together */
    uint64_t ByteLimit = UINT64_MAX; /* the image ends early after this many bytes */
};

struct SimScan {
    bool Started = false;
    SimWindow Window;
    SimGeometry Geometry;
    SimScanInputs Inputs;
    uint64_t Position = 0;   /* bytes delivered */
    uint64_t Total = 0;      /* bytes the image holds, or fewer when it ends early */
    /* Per pixel of a line: the sensor site and the document position. */
    std::vector<uint32_t> Site;
    std::vector<int64_t> DocumentX;
    /* Per pixel and row: the decoded correction. */
    std::vector<uint32_t> Offset[3], Gain[3];
    /* Per row: the window's tone curve followed by the gamma table, for
     * every corrected sample (empty for calibration windows). */
    std::vector<uint16_t> Response[3];
    /* Colour-tagged stream: per segment, its row (0-2) and its line. */
    std::vector<uint8_t> SegmentRow;
    std::vector<uint32_t> SegmentLine;
    /* The unit being delivered. */
    std::vector<uint8_t> Unit;
    uint64_t UnitIndex = UINT64_MAX;
    std::vector<uint16_t> Samples[3]; /* one line's samples per row, 16-bit */
};

/* Prepares a scan of the window: the first image READ after a window does this. */
void StartScan(SimScan &scan, const SimWindow &window, const SimScanInputs &inputs);
/* Copies up to length bytes of the stream; returns how many it had. */
uint32_t ReadScan(SimScan &scan, uint8_t *out, uint32_t length);

/* Document position in chart units of a window's pixel column and line. */
int64_t ScanDocumentX(const SimModel &model, const SimWindow &window, uint32_t pixel);
int64_t ScanDocumentY(const SimModel &model, const SimWindow &window, uint32_t line);
/* Sensor site that a window's pixel column falls on. */
uint32_t ScanSite(const SimModel &model, const SimWindow &window, uint32_t pixel);

#endif
