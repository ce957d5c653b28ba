/*
 * halftone_vector.h - the vector variants of the two binarizers, shared by
 * halftone.cpp (which picks them) and halftone_avx2.cpp (which holds them).
 * They read HalftoneState.GreyBound and BoundKeep, which SelectBinarizer
 * fills before it picks them, and give exactly the bytes of DitherLine and
 * ThresholdLine. Only builds with SCANDRV_HAVE_AVX2 have them; VectorVariant
 * tells, in every build.
 */
#ifndef SCANDRV_HALFTONE_VECTOR_H
#define SCANDRV_HALFTONE_VECTOR_H

#include "halftone.h"

/* The vector variant of DitherLine or ThresholdLine; null in builds
 * without one (and for anything else). */
LineBinarizer VectorVariant(LineBinarizer plain);

#if defined(SCANDRV_HAVE_AVX2)
void DitherLineAvx2(uint8_t *destination, const uint8_t *grey, uint32_t count);
void ThresholdLineAvx2(uint8_t *destination, const uint8_t *grey, uint32_t count);
#endif

#endif
