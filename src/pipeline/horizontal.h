/*
 * horizontal.h - the sixteen horizontal routines: four families (uniform
 * widening and narrowing, insert widening, drop narrowing), each written once
 * in horizontal.cpp as a template over sample type and channels per pixel,
 * and named here per layout. The set-up picks one per scan from its table.
 *
 * Each routine reads exactly SrcPixels pixels of srcLine and writes exactly
 * DstPixels pixels of dstLine (LinePipeline). Widening routines expect
 * 1 <= SrcPixels < DstPixels, narrowing ones SrcPixels > DstPixels.
 */
#ifndef SCANDRV_HORIZONTAL_H
#define SCANDRV_HORIZONTAL_H

#include "line_pipeline.h"

#include <cstdint>

template <typename Sample, unsigned Channels> void WidenUniform(uint8_t *dstLine, const uint8_t *srcLine);
template <typename Sample, unsigned Channels> void NarrowUniform(uint8_t *dstLine, const uint8_t *srcLine);
template <typename Sample, unsigned Channels> void WidenInsert(uint8_t *dstLine, const uint8_t *srcLine);
template <typename Sample, unsigned Channels> void NarrowDrop(uint8_t *dstLine, const uint8_t *srcLine);

/* Fills the tables of a vector uniform routine for the geometry in
 * LinePipeline: offsets and multipliers hold DstPixels entries each;
 * readBytes is how far the routine's loads reach past an offset. */
void BuildUniformAcross(UniformAcrossTable &table, uint32_t *offsets, uint32_t *multipliers, uint32_t readBytes);

/* Fills windows (16 bytes for every eight output samples) from the tables
 * and sets table.Windows and the InLine of windowed loads, if every vector
 * up to the line's end fits its windows; false leaves the table as it was. */
bool BuildAcrossWindows(UniformAcrossTable &table, AcrossWindow *windows);

/* The four layouts of every family, instantiated in horizontal.cpp. */
#define SCANDRV_SCALER_LAYOUTS(prefix, Family)                                                  \
    prefix template void Family<uint16_t, 3>(uint8_t *, const uint8_t *);                       \
    prefix template void Family<uint8_t, 3>(uint8_t *, const uint8_t *);                        \
    prefix template void Family<uint16_t, 1>(uint8_t *, const uint8_t *);                       \
    prefix template void Family<uint8_t, 1>(uint8_t *, const uint8_t *);

SCANDRV_SCALER_LAYOUTS(extern, WidenUniform)
SCANDRV_SCALER_LAYOUTS(extern, NarrowUniform)
SCANDRV_SCALER_LAYOUTS(extern, WidenInsert)
SCANDRV_SCALER_LAYOUTS(extern, NarrowDrop)

inline constexpr LineScalerFn WidenUniformRgb16 = WidenUniform<uint16_t, 3>;
inline constexpr LineScalerFn WidenUniformRgb8 = WidenUniform<uint8_t, 3>;
inline constexpr LineScalerFn WidenUniformGray16 = WidenUniform<uint16_t, 1>;
inline constexpr LineScalerFn WidenUniformGray8 = WidenUniform<uint8_t, 1>;

inline constexpr LineScalerFn NarrowUniformRgb16 = NarrowUniform<uint16_t, 3>;
inline constexpr LineScalerFn NarrowUniformRgb8 = NarrowUniform<uint8_t, 3>;
inline constexpr LineScalerFn NarrowUniformGray16 = NarrowUniform<uint16_t, 1>;
inline constexpr LineScalerFn NarrowUniformGray8 = NarrowUniform<uint8_t, 1>;

inline constexpr LineScalerFn WidenInsertRgb16 = WidenInsert<uint16_t, 3>;
inline constexpr LineScalerFn WidenInsertRgb8 = WidenInsert<uint8_t, 3>;
inline constexpr LineScalerFn WidenInsertGray16 = WidenInsert<uint16_t, 1>;
inline constexpr LineScalerFn WidenInsertGray8 = WidenInsert<uint8_t, 1>;

inline constexpr LineScalerFn NarrowDropRgb16 = NarrowDrop<uint16_t, 3>;
inline constexpr LineScalerFn NarrowDropRgb8 = NarrowDrop<uint8_t, 3>;
inline constexpr LineScalerFn NarrowDropGray16 = NarrowDrop<uint16_t, 1>;
inline constexpr LineScalerFn NarrowDropGray8 = NarrowDrop<uint8_t, 1>;

#endif
