/*
 * vector_routines.h - the AVX2 variants of the uniform line routines
 * (vertical_avx2.cpp, horizontal_avx2.cpp), for the set-up to choose from.
 * They exist only where SCANDRV_HAVE_AVX2 is defined and may run only where
 * VectorRoutinesUsable() says so. Each gives exactly the samples of its
 * plain routine.
 */
#ifndef SCANDRV_VECTOR_ROUTINES_H
#define SCANDRV_VECTOR_ROUTINES_H

#include "line_pipeline.h"

#include <cstdint>

/* Output pixels at which a vector uniform horizontal routine is worth its
 * tables: below this the set-up keeps the plain routine. */
constexpr uint32_t kAcrossVectorMinPixels = 16;

/* How far past Offsets[k] the vector loads of a layout reach, in bytes: a
 * 4-byte load at every sample of the pixel, and for 16-bit colour a second
 * one at the next pixel's sample. The set-up ends the vector part of a line
 * (UniformAcrossTable::InLine) where this would leave the source line. */
constexpr uint32_t AcrossReadBytes(bool color, bool wide)
{
    return color ? (wide ? 2 * 2 + 6 + 4 : 2 + 4) : 4;
}

#if defined(SCANDRV_HAVE_AVX2)

/* BlendLines (vertical.cpp) for bytes and for 16-bit samples. */
void BlendLinesAvx2Byte(uint8_t *out, const uint8_t *prev, const uint8_t *cur, uint32_t count, uint32_t w,
                        uint32_t n);
void BlendLinesAvx2Word(uint8_t *out, const uint8_t *prev, const uint8_t *cur, uint32_t count, uint32_t w,
                        uint32_t n);

/* WidenUniform and NarrowUniform for one layout, driven by
 * LinePipeline.Across (the same routine serves both directions): the
 * sources gathered, or (Window) shuffled out of Across.Windows. */
void UniformAcrossAvx2Rgb16(uint8_t *dstLine, const uint8_t *srcLine);
void UniformAcrossAvx2Rgb8(uint8_t *dstLine, const uint8_t *srcLine);
void UniformAcrossAvx2Gray16(uint8_t *dstLine, const uint8_t *srcLine);
void UniformAcrossAvx2Gray8(uint8_t *dstLine, const uint8_t *srcLine);
void UniformWindowAvx2Rgb16(uint8_t *dstLine, const uint8_t *srcLine);
void UniformWindowAvx2Rgb8(uint8_t *dstLine, const uint8_t *srcLine);
void UniformWindowAvx2Gray16(uint8_t *dstLine, const uint8_t *srcLine);
void UniformWindowAvx2Gray8(uint8_t *dstLine, const uint8_t *srcLine);

#endif

#endif
