/*
 * sim_bytes.h - byte order helpers of the virtual scanner: big-endian for
 * CDB and page fields, low byte first for calibration samples, shading words
 * and gamma entries.
 */
#ifndef SIM_BYTES_H
#define SIM_BYTES_H

#include <algorithm>
#include <cstdint>

inline uint32_t GetBig16(const uint8_t *p) { return (uint32_t(p[0]) << 8) | p[1]; }
inline uint32_t GetBig24(const uint8_t *p) { return (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2]; }
inline uint32_t GetBig32(const uint8_t *p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
inline uint16_t GetLittle16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

inline void PutBig16(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}
inline void PutBig32(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}
inline void PutLittle16(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

#endif
