/*
 * pipeline_reference.h - a slow, plain model of the line pipeline for the
 * tests. Every output pixel or line is computed straight from its position
 * (k + 1) x have / want - 1, its share of inserted items or the item it
 * keeps, in 64-bit arithmetic on vectors of samples, with no running state.
 */
#ifndef SCANDRV_TEST_PIPELINE_REFERENCE_H
#define SCANDRV_TEST_PIPELINE_REFERENCE_H

#include <cstdint>
#include <cstring>
#include <vector>

namespace ref {

typedef std::vector<uint32_t> Line; /* samples, channels interleaved */

/* Items (pixels or lines) rescaled from their count to want; before is the
 * item in front of the first. Blends truncate toward their first item. */
inline std::vector<Line> Rescale(const std::vector<Line> &items, const Line &before, int64_t want, bool uniform)
{
    const int64_t have = items.size();
    auto item = [&](int64_t i) -> const Line & { return i < 0 ? before : items[i]; };
    auto blend = [&](int64_t i, int64_t w, int64_t n) { /* item i toward i + 1 by w/n */
        Line out = item(i);
        for (size_t s = 0; s < out.size(); ++s)
            out[s] = static_cast<uint32_t>(out[s] + ((int64_t)item(i + 1)[s] - out[s]) * w / n);
        return out;
    };
    auto weigh = [&](int64_t i, int64_t j, int64_t n) { /* j-th of n between i - 1 and i */
        Line out = item(i);
        for (size_t s = 0; s < out.size(); ++s)
            out[s] = static_cast<uint32_t>(((n + 1 - j) * item(i - 1)[s] + j * item(i)[s]) / (n + 1));
        return out;
    };
    std::vector<Line> out;
    for (int64_t k = 0; k < want && have == want; ++k)
        out.push_back(items[k]);
    for (int64_t k = 0; k < want && have != want && uniform; ++k) {
        const int64_t pos = (k + 1) * have - want, i = pos >= 0 ? pos / want : -1;
        out.push_back(pos == i * want ? item(i) : blend(i, pos - i * want, want));
    }
    for (int64_t i = 0; i < have && want > have && !uniform; ++i) {
        const int64_t n = (i + 1) * (want - have) / have - i * (want - have) / have;
        for (int64_t j = 1; j <= n; ++j)
            out.push_back(weigh(i, j, n));
        out.push_back(items[i]);
    }
    for (int64_t k = 0; k < want && want < have && !uniform; ++k)
        out.push_back(items[((k + 1) * have + want - 1) / want - 1]);
    return out;
}

/* The item before the first: 2 x first - second held to 0..max (0 when it
 * overshoots while falling), or a copy of the first. One item is its own
 * second. */
inline Line Before(const std::vector<Line> &items, bool extrapolate, int64_t max)
{
    Line out = items[0];
    for (size_t s = 0; s < out.size() && extrapolate; ++s) {
        const int64_t a = items[0][s], b = items[items.size() > 1][s], e = 2 * a - b;
        out[s] = static_cast<uint32_t>(e < 0 ? 0 : e <= max ? e : a < b ? 0 : max);
    }
    return out;
}

inline Line ScaleLine(const Line &line, uint32_t channels, uint32_t want, bool uniform, uint32_t max)
{
    std::vector<Line> pixels;
    for (size_t p = 0; p < line.size(); p += channels)
        pixels.emplace_back(line.begin() + p, line.begin() + p + channels);
    Line out;
    for (const Line &pixel : Rescale(pixels, Before(pixels, true, max), want, uniform))
        out.insert(out.end(), pixel.begin(), pixel.end());
    return out;
}

/* A whole scan. The uniform method reducing lines scales across first and
 * blends after; otherwise lines are blended in source geometry, then scaled.
 * Grey lines extrapolate the line before the first, colour copies it. */
inline std::vector<Line> Scan(std::vector<Line> lines, uint32_t channels, uint32_t dstPixels, uint32_t dstLines,
                              bool uniform, uint32_t max)
{
    const bool scaleFirst = uniform && dstLines < lines.size();
    for (Line &line : lines)
        line = scaleFirst ? ScaleLine(line, channels, dstPixels, true, max) : line;
    std::vector<Line> out = Rescale(lines, Before(lines, channels == 1, max), dstLines, uniform);
    for (Line &line : out)
        line = scaleFirst ? line : ScaleLine(line, channels, dstPixels, uniform, max);
    return out;
}

/* Samples to line bytes and back: bytes, or 16-bit words in host order. */
inline std::vector<uint8_t> ToBytes(const Line &line, bool wide)
{
    std::vector<uint8_t> bytes(line.size() * (wide ? 2 : 1));
    for (size_t s = 0; s < line.size(); ++s) {
        const uint16_t word = static_cast<uint16_t>(line[s]);
        const uint8_t byte = static_cast<uint8_t>(line[s]);
        std::memcpy(&bytes[s * (wide ? 2 : 1)], wide ? static_cast<const void *>(&word) : &byte, wide ? 2 : 1);
    }
    return bytes;
}

inline Line FromBytes(const uint8_t *bytes, size_t samples, bool wide)
{
    Line line(samples);
    for (size_t s = 0; s < samples; ++s) {
        uint16_t word = bytes[s];
        if (wide)
            std::memcpy(&word, bytes + 2 * s, 2);
        line[s] = word;
    }
    return line;
}

} // namespace ref

#endif
