/*
 * sim_sensor.h - the scanner's line sensor: three rows (red, green, blue; a
 * grey-only scanner has the green one) of photo sites, one per pixel of the
 * lens's base resolution, each with its own dark level and its own response
 * to full white, plus a little deterministic noise. Raw samples are 16-bit.
 * The image engine asks for one sample at a time; calibration has work to do
 * because no two sites answer alike.
 */
#ifndef SIM_SENSOR_H
#define SIM_SENSOR_H

#include <cstdint>
#include <vector>

enum class SimSensorKind : uint8_t {
    Streaks, /* the default: lamp fall-off, chip bands, dusty sites, uneven dark levels */
    Flat,    /* every site alike: dark 1800, the nominal response per row */
    Ideal,   /* dark 0 and a response of 65535: a raw sample is the reflectance itself */
};

struct SimSensor {
    uint32_t Pixels = 0;
    std::vector<uint16_t> Dark[3]; /* sample with no light, per row and site */
    std::vector<uint16_t> Span[3]; /* sample above dark for full white (reflectance 255) */
};

/* Nominal white response per row, above the dark level. */
constexpr uint16_t kNominalSpan[3] = {46000, 50000, 42000};
constexpr uint16_t kNominalDark = 1800;
/* Noise amplitude: samples move by at most this much either way. */
constexpr uint32_t kNoiseAmplitude = 64;

/* Fills the sensor for a row of pixels; the same seed gives the same sensor. */
void BuildSensor(SimSensor &sensor, uint32_t pixels, SimSensorKind kind, uint32_t seed);

/* A 32-bit mix of the arguments, the source of all the simulator's randomness. */
inline uint32_t SimHash(uint32_t a, uint32_t b, uint32_t c, uint32_t d)
{
    uint32_t h = a * 0x9E3779B1u ^ (b + 0x7F4A7C15u) * 0x85EBCA77u ^ (c + 0x165667B1u) * 0xC2B2AE3Du ^
                 (d + 0x27D4EB2Fu) * 0x2545F491u;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return h;
}

/* Noise for one sample: a value in -kNoiseAmplitude ... kNoiseAmplitude. The
 * key tells passes apart, so two reads of one line differ but a session
 * repeats exactly. */
inline int32_t SensorNoise(uint32_t key, uint32_t line, uint32_t site, uint32_t row)
{
    return static_cast<int32_t>(SimHash(key, line, site, row) % (2 * kNoiseAmplitude + 1)) -
           static_cast<int32_t>(kNoiseAmplitude);
}

/* The raw sample of one site for an 8-bit reflectance (255 is white); with
 * the light shut off only the dark level remains. */
inline uint32_t SensorSample(const SimSensor &sensor, unsigned row, uint32_t site, uint32_t reflectance,
                             bool lit)
{
    uint32_t dark = sensor.Dark[row][site];
    return lit ? dark + reflectance * sensor.Span[row][site] / 255 : dark;
}

#endif
