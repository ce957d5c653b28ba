/*
 * mirror_routines.h - the reversal routines behind MirrorLines, shared by the
 * plain code (mirror.cpp) and its AVX2 variants (mirror_avx2.cpp). A set of
 * routines is chosen once per MirrorLines call; each routine then runs over
 * every stretch of the chunk.
 */
#ifndef SCANDRV_MIRROR_ROUTINES_H
#define SCANDRV_MIRROR_ROUTINES_H

#include <cstdint>

/* Reverses the first count units of each of stretches stretches, stride
 * bytes apart from start on. */
typedef void (*ReverseRoutine)(uint8_t *start, uint32_t stride, uint32_t stretches, uint32_t count);

/* One routine per unit: packed bytes (bits reversed too), 1- and 2-byte
 * samples, 3- and 6-byte colour pixels. */
struct MirrorRoutineSet {
    ReverseRoutine PackedBits;
    ReverseRoutine Units1;
    ReverseRoutine Units2;
    ReverseRoutine Units3;
    ReverseRoutine Units6;
};

extern const MirrorRoutineSet PlainMirrorRoutines;
#if defined(SCANDRV_HAVE_AVX2)
extern const MirrorRoutineSet Avx2MirrorRoutines;
#endif

/* The plain reversal of one stretch, from lo up to hi (one past its last
 * unit; hi - lo a multiple of the unit). The vector routines swap whole
 * blocks from both ends and leave what is left in the middle to these. */
void ReversePackedBytesPlain(uint8_t *lo, uint8_t *hi);
void ReverseUnits1Plain(uint8_t *lo, uint8_t *hi);
void ReverseUnits2Plain(uint8_t *lo, uint8_t *hi);
void ReverseUnits3Plain(uint8_t *lo, uint8_t *hi);
void ReverseUnits6Plain(uint8_t *lo, uint8_t *hi);

#endif
