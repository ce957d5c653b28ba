/*
 * pipeline_reference.h - a slow, plain model of the line pipeline for the
 * tests: every output pixel and line is computed straight from its position
 * (k + 1) x S / R - 1 or its share of inserted lines, in signed 64-bit
 * arithmetic on vectors of samples, with nothing carried between pixels.
 */
#ifndef SCANDRV_TEST_PIPELINE_REFERENCE_H
#define SCANDRV_TEST_PIPELINE_REFERENCE_H

#include <cstdint>
#include <cstring>
#include <vector>

namespace ref {

typedef std::vector<uint32_t> Line; /* samples, channels interleaved */

inline uint32_t Blend(int64_t p, int64_t c, int64_t w, int64_t n)
{
    return static_cast<uint32_t>(p + (c - p) * w / n); /* division truncates toward p */
}

inline uint32_t Extrapolate(int64_t a, int64_t b, int64_t max)
{
    int64_t e = 2 * a - b;
    return e < 0 ? 0 : e <= max ? e : a < b ? 0 : max;
}

/* Sample k of line at position pos (in units where one step is n long):
 * exact positions give the sample, others blend the neighbours; position -1
 * and before is the line before. */
inline Line AtPosition(const std::vector<Line> &items, const Line &before, int64_t pos, int64_t n)
{
    const int64_t i = pos >= 0 ? pos / n : -1;
    const int64_t w = pos - i * n;
    const Line &p = i < 0 ? before : items[i];
    if (w == 0)
        return p;
    Line out(p.size());
    for (size_t s = 0; s < p.size(); ++s)
        out[s] = Blend(p[s], items[i + 1][s], w, n);
    return out;
}

/* The j-th of n lines inserted between p and c (j = 1..n). */
inline Line Inserted(const Line &p, const Line &c, uint32_t j, uint32_t n)
{
    Line out(p.size());
    for (size_t s = 0; s < p.size(); ++s)
        out[s] = static_cast<uint32_t>((uint64_t(n + 1 - j) * p[s] + uint64_t(j) * c[s]) / (n + 1));
    return out;
}

/* Rescales items (pixels or lines) from their count to want, by the uniform
 * or the insert-and-drop method; before is the extrapolated item. */
inline std::vector<Line> Rescale(const std::vector<Line> &items, const Line &before, uint32_t want, bool uniform)
{
    const int64_t have = items.size();
    std::vector<Line> out;
    if (have == want) {
        out = items;
    } else if (uniform) {
        for (int64_t k = 0; k < want; ++k)
            out.push_back(AtPosition(items, before, (k + 1) * have - want, want));
    } else if (want > have) {
        const int64_t extra = want - have;
        for (int64_t i = 0; i < have; ++i) {
            const uint32_t n = static_cast<uint32_t>((i + 1) * extra / have - i * extra / have);
            for (uint32_t j = 1; j <= n; ++j)
                out.push_back(Inserted(i ? items[i - 1] : before, items[i], j, n));
            out.push_back(items[i]);
        }
    } else {
        for (int64_t k = 0; k < want; ++k)
            out.push_back(items[((k + 1) * have + want - 1) / want - 1]);
    }
    return out;
}

/* The item before the first: continued from the second to the first, or a
 * copy of the first. A single item continues from itself. */
inline Line Before(const std::vector<Line> &items, bool extrapolate, uint32_t max)
{
    Line out = items[0];
    if (extrapolate)
        for (size_t s = 0; s < out.size(); ++s)
            out[s] = Extrapolate(items[0][s], items[items.size() > 1 ? 1 : 0][s], max);
    return out;
}

/* One line across: pixels as items of `channels` samples. */
inline Line ScaleLine(const Line &line, uint32_t channels, uint32_t want, bool uniform, uint32_t max)
{
    std::vector<Line> pixels;
    for (size_t p = 0; p < line.size() / channels; ++p)
        pixels.emplace_back(line.begin() + p * channels, line.begin() + (p + 1) * channels);
    Line out;
    for (const Line &pixel : Rescale(pixels, Before(pixels, true, max), want, uniform))
        out.insert(out.end(), pixel.begin(), pixel.end());
    return out;
}

/* A whole scan: the uniform method blends before scaling across when it
 * enlarges and after when it reduces; insert-and-drop blends in source
 * geometry. Grey lines extrapolate the line before the first, colour copies. */
inline std::vector<Line> Scan(const std::vector<Line> &src, uint32_t channels, uint32_t dstPixels,
                              uint32_t dstLines, bool uniform, uint32_t max)
{
    std::vector<Line> lines = src;
    const bool scaleFirst = uniform && dstLines < src.size();
    if (scaleFirst)
        for (Line &line : lines)
            line = ScaleLine(line, channels, dstPixels, true, max);
    std::vector<Line> out = Rescale(lines, Before(lines, channels == 1, max), dstLines, uniform);
    if (!scaleFirst)
        for (Line &line : out)
            line = ScaleLine(line, channels, dstPixels, uniform, max);
    return out;
}

inline std::vector<uint8_t> ToBytes(const Line &line, bool wide)
{
    std::vector<uint8_t> bytes(line.size() * (wide ? 2 : 1));
    for (size_t s = 0; s < line.size(); ++s) {
        if (wide) {
            uint16_t word = static_cast<uint16_t>(line[s]);
            std::memcpy(&bytes[2 * s], &word, 2);
        } else {
            bytes[s] = static_cast<uint8_t>(line[s]);
        }
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
