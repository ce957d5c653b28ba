/*
 * sim_image.cpp - window checks, the geometry a window gives, and the line
 * generation of the image stream. A scan precomputes per pixel column what
 * does not change from line to line (sensor site, document position,
 * correction); each unit of the stream is then generated when a READ first
 * touches it, so a full-glass scan never exists in memory as a whole.
 */
#include "sim_image.h"

#include "sim_bytes.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr SimSenseCode kInvalidField{0x26, 0x00};   /* invalid field in parameter list */
constexpr SimSenseCode kInvalidValue{0x26, 0x02};   /* parameter value invalid */
constexpr SimSenseCode kBadCombination{0x2C, 0x02}; /* invalid combination of window specified */
constexpr SimSenseCode kTooManyWindows{0x2C, 0x01};

/* Reflectance of the scanner housing above the glass, outside the white strip. */
constexpr uint8_t kHousingReflectance = 8;

/* The halftone the scanner uses until the host sends its own: a 4 x 4
 * ordered dither. */
constexpr uint8_t kDefaultPattern[16] = {8,   136, 40,  168, 200, 72,  232, 104,
                                         56,  184, 24,  152, 248, 120, 216, 88};

inline int RowOfTag(char tag) { return tag == 'R' ? 0 : tag == 'G' ? 1 : 2; }
constexpr char kTags[3] = {'R', 'G', 'B'};

bool DepthAllowed(const SimModel &model, uint8_t depth)
{
    if (depth == 8)
        return true;
    return depth > 8 && depth <= 16 && (model.WideDepths & (1u << (depth - 9)));
}

} // namespace

SimSenseCode ParseWindow(const SimModel &model, const uint8_t *list, SimWindow &window)
{
    if (GetBig16(list + 6) != kWindowDescriptorLength)
        return kInvalidField;
    if (list[8] != 0)
        return kTooManyWindows;
    SimWindow w;
    w.ResolutionX = static_cast<uint16_t>(GetBig16(list + 10));
    w.ResolutionY = static_cast<uint16_t>(GetBig16(list + 12));
    w.X = static_cast<int32_t>(GetBig32(list + 14));
    w.Y = static_cast<int32_t>(GetBig32(list + 18));
    w.Width = GetBig32(list + 22);
    w.Length = GetBig32(list + 26);
    w.Threshold = list[31];
    w.Composition = list[33];
    w.Depth = list[34];
    w.Lens = list[38];
    uint8_t sourceCode = list[39];
    /* Colour windows carry a group per channel (brightness, contrast, a
     * reserved byte, shadow, midtone, highlight); single-channel windows
     * carry brightness and contrast in the descriptor and their levels in
     * the master triple. */
    for (int row = 0; row < 3; ++row) {
        const uint8_t *group = list + 51 + 6 * row;
        w.Tone[row] = w.Composition == kColor ? SimTone{group[0], group[1], group[3], group[4], group[5]}
                                              : SimTone{list[30], list[32], list[48], list[49], list[50]};
    }

    if (w.ResolutionX != w.ResolutionY)
        return kBadCombination;
    if (w.Lens >= model.LensCount)
        return kInvalidField;
    const SimLens &lens = model.Lenses[w.Lens];
    if (w.ResolutionX < kMinResolution || w.ResolutionX > lens.MaxWindowResolution)
        return kInvalidValue;

    if ((sourceCode & ~(kSourceCodeRaw | 0x0F)) != kSourceCodeBase)
        return kInvalidField;
    w.Raw = sourceCode & kSourceCodeRaw;
    w.Source = sourceCode & 0x0F;
    if (!SourceInstalled(model, w.Lens, w.Source))
        return kInvalidField;

    switch (w.Composition) {
    case kBilevel:
        if (!model.CanThreshold)
            return kInvalidField;
        break;
    case kDithered:
        if (!model.CanHalftone)
            return kInvalidField;
        break;
    case kColor:
        if (!model.Color)
            return kInvalidField;
        break;
    case kGrey:
        break;
    default:
        return kInvalidField;
    }
    bool bilevel = w.Composition == kBilevel || w.Composition == kDithered;
    if (bilevel ? w.Depth != 1 : !DepthAllowed(model, w.Depth))
        return kBadCombination;
    if (w.Raw && (bilevel || w.Depth != 16))
        return kBadCombination;

    const SimArea &area = lens.Areas[w.Source];
    int64_t reach = std::max<int64_t>(kReferenceAreaLines,
                                      int64_t{kReferenceAreaLines} * lens.BaseResolution / kReferenceAreaDpi);
    int64_t top = w.Raw ? -reach : 0;
    if (w.Width == 0 || w.Length == 0 || w.X < 0 || static_cast<int64_t>(w.X) + w.Width > area.WidthPixels ||
        w.Y < top || static_cast<int64_t>(w.Y) + w.Length > area.LengthPixels)
        return kInvalidField;
    if (static_cast<uint64_t>(w.Width) * w.ResolutionX / lens.BaseResolution == 0 ||
        static_cast<uint64_t>(w.Length) * w.ResolutionY / lens.BaseResolution == 0)
        return kInvalidField;
    window = w;
    return {};
}

SimGeometry WindowGeometry(const SimModel &model, const SimWindow &window)
{
    uint32_t base = model.Lenses[window.Lens].BaseResolution;
    SimGeometry g;
    g.Pixels = static_cast<uint32_t>(static_cast<uint64_t>(window.Width) * window.ResolutionX / base);
    g.Lines = static_cast<uint32_t>(static_cast<uint64_t>(window.Length) * window.ResolutionY / base);
    g.Rows = window.Composition == kColor ? 3 : 1;
    if (window.Composition == kBilevel || window.Composition == kDithered) {
        g.SampleBytes = 0;
        g.LineBytes = (g.Pixels + 7) / 8;
    } else {
        g.SampleBytes = window.Depth > 8 ? 2 : 1;
        g.LineBytes = g.Pixels * g.Rows * g.SampleBytes;
    }
    /* Calibration lines always come whole; image colour lines in the model's layout. */
    g.Segmented = g.Rows == 3 && !window.Raw && model.LineFormat == 3;
    if (g.Segmented) {
        g.UnitBytes = 2 + g.Pixels * g.SampleBytes;
        g.LineBytes = 3 * g.UnitBytes;
        g.Units = 3 * g.Lines;
    } else {
        g.UnitBytes = g.LineBytes;
        g.Units = g.Lines;
    }
    return g;
}

uint32_t ScanLineGap(const SimModel &model, const SimWindow &window)
{
    return window.ResolutionY * model.ColorLineGap / model.Lenses[window.Lens].BaseResolution;
}

int64_t ScanDocumentX(const SimModel &model, const SimWindow &window, uint32_t pixel)
{
    const SimLens &lens = model.Lenses[window.Lens];
    int64_t x = static_cast<int64_t>(window.X) * kUnitsPerInch / lens.BaseResolution +
                static_cast<int64_t>(pixel) * kUnitsPerInch / window.ResolutionX;
    if (!model.ReverseX)
        return x;
    /* The origin lies at the far edge: device X runs right to left over the
     * document, and a pixel is sampled at its edge nearer the document's
     * origin, so that a mirrored line meets the same positions as a plain one. */
    int64_t glass = static_cast<int64_t>(lens.Areas[window.Source].WidthPixels) * kUnitsPerInch /
                    lens.BaseResolution;
    int64_t next = static_cast<int64_t>(window.X) * kUnitsPerInch / lens.BaseResolution +
                   static_cast<int64_t>(pixel + 1) * kUnitsPerInch / window.ResolutionX;
    return glass - next;
}

int64_t ScanDocumentY(const SimModel &model, const SimWindow &window, uint32_t line)
{
    const SimLens &lens = model.Lenses[window.Lens];
    return static_cast<int64_t>(window.Y) * kUnitsPerInch / lens.BaseResolution +
           static_cast<int64_t>(line) * kUnitsPerInch / window.ResolutionY;
}

uint32_t ScanSite(const SimModel &model, const SimWindow &window, uint32_t pixel)
{
    uint32_t base = model.Lenses[window.Lens].BaseResolution;
    uint64_t site = static_cast<uint64_t>(window.X) + static_cast<uint64_t>(pixel) * base / window.ResolutionX;
    uint32_t last = SensorPixels(model, window.Lens) - 1;
    return static_cast<uint32_t>(std::min<uint64_t>(site, last));
}

void StartScan(SimScan &scan, const SimWindow &window, const SimScanInputs &inputs)
{
    const SimModel &model = *inputs.Model;
    scan.Started = true;
    scan.Window = window;
    scan.Inputs = inputs;
    scan.Geometry = WindowGeometry(model, window);
    scan.Position = 0;
    scan.Total = std::min<uint64_t>(static_cast<uint64_t>(scan.Geometry.Units) * scan.Geometry.UnitBytes,
                                    inputs.ByteLimit);
    scan.UnitIndex = UINT64_MAX;
    scan.Unit.assign(scan.Geometry.UnitBytes, 0);

    uint32_t pixels = scan.Geometry.Pixels;
    scan.Site.resize(pixels);
    scan.DocumentX.resize(pixels);
    for (uint32_t i = 0; i < pixels; ++i) {
        scan.Site[i] = ScanSite(model, window, i);
        scan.DocumentX[i] = ScanDocumentX(model, window, i);
    }
    for (int row = 0; row < 3; ++row) {
        scan.Samples[row].assign(pixels, 0);
        scan.Offset[row].assign(pixels, 0);
        scan.Gain[row].assign(pixels, 65535);
        if (window.Raw || inputs.Shading == nullptr)
            continue;
        const std::vector<uint16_t> &offsets = inputs.Shading->Offset[row];
        const std::vector<uint16_t> &gains = inputs.Shading->Gain[row];
        for (uint32_t i = 0; i < pixels; ++i) {
            uint32_t site = scan.Site[i];
            uint16_t offsetWord = site < offsets.size() ? offsets[site] : 0;
            uint16_t gainWord = site < gains.size() ? gains[site] : 0;
            DecodeCorrection(offsetWord, gainWord, scan.Offset[row][i], scan.Gain[row][i]);
        }
    }
    for (int row = 0; row < 3; ++row) {
        /* Single-channel scans read the green row only. */
        bool used = !window.Raw && (scan.Geometry.Rows == 3 || row == 1);
        scan.Response[row].resize(used ? 65536 : 0);
        if (used)
            BuildToneResponse(window.Tone[row], inputs.Gamma[row].data(), scan.Response[row].data());
    }

    scan.SegmentRow.clear();
    scan.SegmentLine.clear();
    if (scan.Geometry.Segmented) {
        /* The red row sees a line first; the green row sees it gap lines
         * later and the blue row gap lines after that. Segments that arrive
         * in the same line time come in the configured order. */
        uint32_t gap = ScanLineGap(model, window);
        uint32_t lines = scan.Geometry.Lines;
        scan.SegmentRow.reserve(scan.Geometry.Units);
        scan.SegmentLine.reserve(scan.Geometry.Units);
        for (uint32_t t = 0; t < lines + 2 * gap; ++t)
            for (char tag : inputs.SegmentOrder) {
                int row = RowOfTag(tag);
                uint32_t delay = static_cast<uint32_t>(row) * gap;
                if (t >= delay && t - delay < lines) {
                    scan.SegmentRow.push_back(static_cast<uint8_t>(row));
                    scan.SegmentLine.push_back(t - delay);
                }
            }
    }
}

namespace {

/* Generates the samples of one line for the rows in the mask: raw sensor
 * samples for a calibration window, else corrected and mapped through the
 * tone curve and gamma table, all 16-bit. */
void RenderLine(SimScan &scan, uint32_t line, unsigned rowMask)
{
    const SimScanInputs &in = scan.Inputs;
    const SimModel &model = *in.Model;
    const SimWindow &w = scan.Window;
    const SimSensor &sensor = *in.Sensor;
    int64_t y = ScanDocumentY(model, w, line);
    bool aboveGlass = y < 0;
    uint8_t fixed = kHousingReflectance;
    if (aboveGlass) {
        const SimLens &lens = model.Lenses[w.Lens];
        int64_t stripTop = static_cast<int64_t>(lens.WhiteStripY) * kUnitsPerInch / lens.BaseResolution;
        int64_t stripEnd = static_cast<int64_t>(lens.WhiteStripY + kWhiteStripLines) * kUnitsPerInch /
                           lens.BaseResolution;
        if (y >= stripTop && y < stripEnd)
            fixed = 255;
    }
    bool lit = !in.Dark;
    uint32_t pixels = scan.Geometry.Pixels;
    for (uint32_t i = 0; i < pixels; ++i) {
        SimRgb colour = aboveGlass       ? SimRgb{fixed, fixed, fixed}
                        : in.FeederPage ? FeederPageColor(*in.Document, in.FeederPage, scan.DocumentX[i], y)
                                        : DocumentColor(*in.Document, scan.DocumentX[i], y);
        const uint8_t reflectance[3] = {colour.R, colour.G, colour.B};
        uint32_t site = scan.Site[i];
        for (unsigned row = 0; row < 3; ++row) {
            if (!(rowMask & (1u << row)))
                continue;
            int32_t v = static_cast<int32_t>(SensorSample(sensor, row, site, reflectance[row], lit));
            if (in.Noise)
                v += SensorNoise(in.NoiseKey, line, site, row);
            uint32_t sample = static_cast<uint32_t>(std::clamp(v, 0, 65535));
            if (!w.Raw) {
                uint32_t offset = scan.Offset[row][i];
                uint64_t corrected =
                    sample > offset ? static_cast<uint64_t>(sample - offset) * scan.Gain[row][i] / 65535 : 0;
                sample = scan.Response[row][std::min<uint64_t>(corrected, 65535)];
            }
            scan.Samples[row][i] = static_cast<uint16_t>(sample);
        }
    }
}

/* Writes n samples reduced to the window's depth, 1 or 2 bytes each (2-byte
 * samples low byte first), stride apart in units of samples. */
uint8_t *PutSamples(uint8_t *out, const uint16_t *samples, uint32_t n, uint8_t depth, uint32_t sampleBytes,
                    uint32_t stride)
{
    unsigned shift = 16 - depth;
    if (sampleBytes == 1) {
        for (uint32_t i = 0; i < n; ++i)
            out[i * stride] = static_cast<uint8_t>(samples[i] >> 8);
    } else {
        for (uint32_t i = 0; i < n; ++i)
            PutLittle16(out + 2 * i * stride, samples[i] >> shift);
    }
    return out;
}

void PutBits(SimScan &scan, uint32_t line, uint8_t *out)
{
    const SimWindow &w = scan.Window;
    const uint16_t *grey = scan.Samples[1].data();
    const uint8_t *pattern = scan.Inputs.Pattern;
    uint32_t side = scan.Inputs.PatternSide;
    if (pattern == nullptr || side == 0) {
        pattern = kDefaultPattern;
        side = 4;
    }
    const uint8_t *patternRow = pattern + (line % side) * side;
    uint32_t pixels = scan.Geometry.Pixels;
    std::memset(out, 0, scan.Geometry.LineBytes);
    for (uint32_t i = 0; i < pixels; ++i) {
        uint32_t v = grey[i] >> 8;
        uint32_t threshold = w.Composition == kBilevel ? w.Threshold : patternRow[i % side];
        if (v < threshold)
            out[i / 8] |= static_cast<uint8_t>(0x80u >> (i % 8));
    }
}

void RenderUnit(SimScan &scan, uint64_t unit)
{
    const SimGeometry &g = scan.Geometry;
    const SimWindow &w = scan.Window;
    uint8_t *out = scan.Unit.data();
    if (g.Segmented) {
        unsigned row = scan.SegmentRow[unit];
        uint32_t line = scan.SegmentLine[unit];
        RenderLine(scan, line, 1u << row);
        out[0] = static_cast<uint8_t>(kTags[row]);
        out[1] = 0;
        PutSamples(out + 2, scan.Samples[row].data(), g.Pixels, w.Depth, g.SampleBytes, 1);
    } else {
        uint32_t line = static_cast<uint32_t>(unit);
        /* Single-channel scans read the green row. */
        RenderLine(scan, line, g.Rows == 3 ? 7u : 2u);
        if (g.SampleBytes == 0)
            PutBits(scan, line, out);
        else if (g.Rows == 1)
            PutSamples(out, scan.Samples[1].data(), g.Pixels, w.Depth, g.SampleBytes, 1);
        else
            for (uint32_t row = 0; row < 3; ++row)
                PutSamples(out + row * g.SampleBytes, scan.Samples[row].data(), g.Pixels, w.Depth, g.SampleBytes,
                           3);
    }
    scan.UnitIndex = unit;
}

} // namespace

uint32_t ReadScan(SimScan &scan, uint8_t *out, uint32_t length)
{
    uint64_t available = scan.Total - scan.Position;
    uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(length, available));
    uint32_t done = 0;
    uint32_t unitBytes = scan.Geometry.UnitBytes;
    while (done < n) {
        uint64_t unit = scan.Position / unitBytes;
        uint32_t offset = static_cast<uint32_t>(scan.Position % unitBytes);
        if (unit != scan.UnitIndex)
            RenderUnit(scan, unit);
        uint32_t take = std::min(unitBytes - offset, n - done);
        std::memcpy(out + done, scan.Unit.data() + offset, take);
        done += take;
        scan.Position += take;
    }
    return n;
}
