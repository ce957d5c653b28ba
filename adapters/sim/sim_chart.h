/*
 * sim_chart.h - the document on the glass: the built-in test chart, or an
 * image file (PNM, and PNG where libpng is available) laid at the glass's
 * top-left corner. Positions are in chart units of 1/12000 inch from that
 * corner, so that every resolution the scanner offers lands on whole units
 * or close to them; colours are 8-bit reflectances, 255 the white of paper.
 * The image engine (sim_image) samples the document once per pixel.
 */
#ifndef SIM_CHART_H
#define SIM_CHART_H

#include <cstdint>
#include <string>
#include <vector>

constexpr int64_t kUnitsPerInch = 12000;

struct SimRgb {
    uint8_t R, G, B;
    bool operator==(const SimRgb &other) const = default;
};

/*
 * The built-in chart, computable at every position (all edges in inches from
 * the top-left corner; everything not listed is white paper):
 *   black square 0-0.25 x 0-0.25 and a red one at 7.75-8.25 x 0-0.25, so a
 *     mirrored image shows red on the left;
 *   colour patches, y 0.5-1.5, eight of 0.75 in from x 0.5: red, green, blue,
 *     cyan, magenta, yellow, black, grey 128;
 *   grey ramp, y 1.75-2.5, x 0.5-8.0, black to white;
 *   sixteen grey steps, y 2.75-3.25, 0.4 in each from x 0.5, value 17k;
 *   vertical line groups, y 3.5-4.5, and horizontal ones, y 4.75-5.75, one
 *     inch per group from x 0.5, periods 1/10, 1/25, 1/50, 1/100, 1/200 and
 *     1/300 inch, black in the first half of each period;
 *   a black letter F, x 0.5-2.5, y 6-9;
 *   a position field, x 3-8, y 6-11: red rises with x, green with y, blue
 *     is a 0.25 in checkerboard of 0 and 255.
 */
SimRgb ChartColor(int64_t x, int64_t y);

struct SimDocument {
    bool IsImage = false;          /* false: the built-in chart */
    std::string Path;              /* the image file, when IsImage */
    uint32_t Width = 0, Height = 0;/* image pixels */
    uint32_t Dpi = 300;            /* image pixels per inch on the glass */
    std::vector<uint8_t> Rgb;      /* Width x Height pixels, three bytes each */
};

/* Loads a PNM (P5, P6, 8-bit) or PNG file. On failure the document is left
 * as it was and error says why. */
bool LoadDocumentImage(SimDocument &document, const std::string &path, uint32_t dpi,
                       std::string &error);

/* The document's colour at a position; beyond an image's edge the glass
 * shows the white lid. */
inline SimRgb DocumentColor(const SimDocument &document, int64_t x, int64_t y)
{
    if (!document.IsImage)
        return ChartColor(x, y);
    if (x < 0 || y < 0)
        return {255, 255, 255};
    uint64_t px = static_cast<uint64_t>(x) * document.Dpi / kUnitsPerInch;
    uint64_t py = static_cast<uint64_t>(y) * document.Dpi / kUnitsPerInch;
    if (px >= document.Width || py >= document.Height)
        return {255, 255, 255};
    const uint8_t *p = &document.Rgb[(py * document.Width + px) * 3];
    return {p[0], p[1], p[2]};
}

/*
 * Feeder pages. Every page of the document feeder's stack shows the
 * document (the chart or the image file) and, on a white panel in the band
 * below the chart, its page number in up to four seven-segment digits,
 * 2 in tall, written from the left. The numbers are there so that a test (or
 * a person) can tell the pages of a batch apart and read them back: each
 * segment's centre (PageSegmentCentre) lies inside that segment only.
 */
constexpr int64_t kPagePanelLeft = 3000, kPagePanelTop = 135000;    /* 0.25 in, 11.25 in */
constexpr int64_t kPagePanelRight = 78000, kPagePanelBottom = 165000; /* 6.5 in, 13.75 in */
constexpr int64_t kPageDigitLeft = 6000, kPageDigitTop = 138000;    /* 0.5 in, 11.5 in */
constexpr int64_t kPageDigitWidth = 14400, kPageDigitHeight = 24000; /* 1.2 in x 2 in */
constexpr int64_t kPageDigitPitch = 18000;                          /* 1.5 in */
constexpr int64_t kPageSegmentThickness = 3000;                     /* 0.25 in */
constexpr unsigned kPageDigits = 4;

/* Segments a to g in bits 0 to 6: top, upper right, lower right, bottom,
 * lower left, upper left, middle. */
constexpr uint8_t kSevenSegments[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};

/* The centre of segment s (0-6, a-g) of digit position p, in chart units. */
inline void PageSegmentCentre(unsigned position, unsigned segment, int64_t &x, int64_t &y)
{
    constexpr int64_t w = kPageDigitWidth, h = kPageDigitHeight, t = kPageSegmentThickness;
    static constexpr int64_t cx[7] = {w / 2, w - t / 2, w - t / 2, w / 2, t / 2, t / 2, w / 2};
    static constexpr int64_t cy[7] = {t / 2, h / 4, 3 * h / 4, h - t / 2, 3 * h / 4, h / 4, h / 2};
    x = kPageDigitLeft + position * kPageDigitPitch + cx[segment];
    y = kPageDigitTop + cy[segment];
}

/* Whether the page number's digits (page 1 to 9999) cover a position; on
 * the panel around them the page is white. */
bool PageNumberInk(uint32_t page, int64_t x, int64_t y);

/* The colour of feeder page `page` (from 1) at a position. */
inline SimRgb FeederPageColor(const SimDocument &document, uint32_t page, int64_t x, int64_t y)
{
    if (x >= kPagePanelLeft && x < kPagePanelRight && y >= kPagePanelTop && y < kPagePanelBottom)
        return PageNumberInk(page, x, y) ? SimRgb{0, 0, 0} : SimRgb{255, 255, 255};
    return DocumentColor(document, x, y);
}

#endif
