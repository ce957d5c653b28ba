/*
 * byte_order.h - reading and writing the big-endian numbers of SCSI commands
 * and pages, and the low-byte-first words of the calibration data. Device
 * bytes are always read through these, never by casting a buffer.
 */
#ifndef SCANDRV_BYTE_ORDER_H
#define SCANDRV_BYTE_ORDER_H

#include <cstdint>

inline uint16_t ReadBigEndian16(const uint8_t *p)
{
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

inline uint32_t ReadBigEndian32(const uint8_t *p)
{
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

inline void WriteBigEndian16(uint8_t *p, uint32_t value)
{
    p[0] = static_cast<uint8_t>(value >> 8);
    p[1] = static_cast<uint8_t>(value);
}

inline void WriteBigEndian24(uint8_t *p, uint32_t value)
{
    p[0] = static_cast<uint8_t>(value >> 16);
    p[1] = static_cast<uint8_t>(value >> 8);
    p[2] = static_cast<uint8_t>(value);
}

inline void WriteBigEndian32(uint8_t *p, uint32_t value)
{
    p[0] = static_cast<uint8_t>(value >> 24);
    p[1] = static_cast<uint8_t>(value >> 16);
    p[2] = static_cast<uint8_t>(value >> 8);
    p[3] = static_cast<uint8_t>(value);
}

inline uint16_t ReadLittleEndian16(const uint8_t *p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline void WriteLittleEndian16(uint8_t *p, uint32_t value)
{
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
}

#endif
