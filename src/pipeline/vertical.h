/*
 * vertical.h - the two chunk routines behind ProcessChunk, one per method,
 * each instantiated for byte and for 16-bit samples in vertical.cpp. The
 * set-up stores one of the four in LinePipeline.ChunkRoutine.
 */
#ifndef SCANDRV_VERTICAL_H
#define SCANDRV_VERTICAL_H

#include "line_pipeline.h"

#include <cstdint>

/* Uniform interpolation: output line k lies at source position
 * (k + 1) x SrcLines / DstLines - 1 and blends the lines around it. */
template <typename Sample>
int32_t UniformChunk(const ChunkDesc &dst, const ChunkDesc &src, uint32_t &consumed, uint32_t &produced);

/* Insert-and-drop: enlarging keeps every source line and inserts blends
 * before it; reducing drops whole lines. */
template <typename Sample>
int32_t InsertChunk(const ChunkDesc &dst, const ChunkDesc &src, uint32_t &consumed, uint32_t &produced);

/* The plain uniform blend of a sample type (LineBlendFn). */
template <typename Sample>
void BlendLines(uint8_t *out, const uint8_t *prev, const uint8_t *cur, uint32_t count, uint32_t w, uint32_t n);
extern template void BlendLines<uint8_t>(uint8_t *, const uint8_t *, const uint8_t *, uint32_t, uint32_t, uint32_t);
extern template void BlendLines<uint16_t>(uint8_t *, const uint8_t *, const uint8_t *, uint32_t, uint32_t,
                                          uint32_t);

#define SCANDRV_CHUNK_WIDTHS(prefix, Routine)                                                   \
    prefix template int32_t Routine<uint8_t>(const ChunkDesc &, const ChunkDesc &, uint32_t &,   \
                                             uint32_t &);                                        \
    prefix template int32_t Routine<uint16_t>(const ChunkDesc &, const ChunkDesc &, uint32_t &,  \
                                              uint32_t &);

SCANDRV_CHUNK_WIDTHS(extern, UniformChunk)
SCANDRV_CHUNK_WIDTHS(extern, InsertChunk)

#endif
