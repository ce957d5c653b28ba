/*
 * mirror.cpp - MirrorLines: per line (or per colour segment) the order of
 * units is reversed by swapping from both ends until they meet. A unit is a
 * byte of packed pixels, a sample, or a whole colour pixel, so the order
 * inside a unit is kept; packed bytes then have their bits reversed too.
 */
#include "mirror.h"

#include <array>
#include <cstddef>
#include <cstring>

namespace {

constexpr std::array<uint8_t, 256> MakeBitReversal()
{
    std::array<uint8_t, 256> table = {};
    for (unsigned v = 0; v < 256; ++v) {
        unsigned reversed = 0;
        for (unsigned bit = 0; bit < 8; ++bit)
            if (v & (1u << bit))
                reversed |= 0x80u >> bit;
        table[v] = static_cast<uint8_t>(reversed);
    }
    return table;
}

/* Reverses the first count units of each of stretches stretches, stride
 * bytes apart from start on. */
template <uint32_t Unit>
void ReverseStretches(uint8_t *start, uint32_t stride, uint32_t stretches, uint32_t count)
{
    if (count < 2)
        return;
    for (uint32_t j = 0; j < stretches; ++j) {
        uint8_t *lo = start + static_cast<size_t>(j) * stride;
        uint8_t *hi = lo + static_cast<size_t>(count - 1) * Unit;
        for (; lo < hi; lo += Unit, hi -= Unit) {
            uint8_t held[Unit];
            std::memcpy(held, lo, Unit);
            std::memcpy(lo, hi, Unit);
            std::memcpy(hi, held, Unit);
        }
    }
}

uint32_t Smaller(uint32_t a, uint32_t b)
{
    return a < b ? a : b;
}

} // namespace

/* Built at compile time; constant-initialized, so ready before any call. */
const std::array<uint8_t, 256> BitReversal = MakeBitReversal();

void MirrorLines(int32_t selector, int32_t sampleBits, uint32_t pixels, uint32_t lineBytes,
                 uint32_t lines, uint8_t *first)
{
    const uint32_t sampleBytes = sampleBits > 8 ? 2 : 1;
    switch (selector) {
    case kMirrorBinary: {
        const uint32_t bytes = Smaller(pixels / 8 + (pixels % 8 != 0), lineBytes);
        ReverseStretches<1>(first, lineBytes, lines, bytes);
        /* The pixels inside each byte change order as well. Padding bits of a
         * last partial byte thus end up in front of the first pixel. */
        for (uint32_t j = 0; j < lines; ++j) {
            uint8_t *line = first + static_cast<size_t>(j) * lineBytes;
            for (uint32_t b = 0; b < bytes; ++b)
                line[b] = BitReversal[line[b]];
        }
        break;
    }
    case kMirrorSingle: {
        const uint32_t count = Smaller(pixels, lineBytes / sampleBytes);
        if (sampleBytes == 2)
            ReverseStretches<2>(first, lineBytes, lines, count);
        else
            ReverseStretches<1>(first, lineBytes, lines, count);
        break;
    }
    case kMirrorTagged: {
        /* Segments follow each other floor(lineBytes / 3) apart across the
         * whole chunk; the tag in front of each stays where it is. */
        const uint32_t segment = lineBytes / 3;
        const uint32_t count = Smaller(pixels, segment >= 2 ? (segment - 2) / sampleBytes : 0);
        if (sampleBytes == 2)
            ReverseStretches<2>(first + 2, segment, lines * 3, count);
        else
            ReverseStretches<1>(first + 2, segment, lines * 3, count);
        break;
    }
    case kMirrorWholePixel: {
        const uint32_t count = Smaller(pixels, lineBytes / (3 * sampleBytes));
        if (sampleBytes == 2)
            ReverseStretches<6>(first, lineBytes, lines, count);
        else
            ReverseStretches<3>(first, lineBytes, lines, count);
        break;
    }
    default:
        break;
    }
}
