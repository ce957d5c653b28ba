/*
 * sim_sensor.cpp - building the sensor's per-site dark levels and white
 * responses. The streaked sensor is what the calibration exists for: an
 * uncalibrated scan of white paper shows the lamp's fall-off to the edges,
 * bands where the sensor chips meet and dark columns under dusty sites.
 */
#include "sim_sensor.h"

#include <algorithm>
#include <cmath>

/* Sites per sensor chip; alternate chips answer 3 % weaker. */
constexpr uint32_t kChipSites = 340;
/* Dusty sites: this many narrow streaks that see 20 % less light. */
constexpr uint32_t kDustStreaks = 7;

void BuildSensor(SimSensor &sensor, uint32_t pixels, SimSensorKind kind, uint32_t seed)
{
    sensor.Pixels = pixels;
    for (unsigned row = 0; row < 3; ++row) {
        sensor.Dark[row].assign(pixels, kind == SimSensorKind::Ideal ? 0 : kNominalDark);
        sensor.Span[row].assign(pixels, kind == SimSensorKind::Ideal ? 65535 : kNominalSpan[row]);
    }
    if (kind != SimSensorKind::Streaks || pixels == 0)
        return;

    std::vector<double> dust(pixels, 1.0);
    for (uint32_t k = 0; k < kDustStreaks; ++k) {
        uint32_t start = SimHash(seed, 0xD057, k, 0) % pixels;
        uint32_t width = 1 + SimHash(seed, 0xD057, k, 1) % 4;
        for (uint32_t p = start; p < std::min(pixels, start + width); ++p)
            dust[p] = 0.8;
    }
    double last = pixels > 1 ? pixels - 1 : 1;
    for (unsigned row = 0; row < 3; ++row) {
        for (uint32_t p = 0; p < pixels; ++p) {
            double t = 2.0 * p / last - 1.0;
            double falloff = 1.0 - 0.12 * t * t;
            double chip = (p / kChipSites) % 2 ? 0.97 : 1.0;
            double jitter = 1.0 + (static_cast<int32_t>(SimHash(seed, row, p, 1) % 301) - 150) / 10000.0;
            double span = kNominalSpan[row] * falloff * chip * jitter * dust[p];
            double wave = 250.0 * std::cos(3.0 * t + row);
            int32_t darkJitter = static_cast<int32_t>(SimHash(seed, row, p, 2) % 81) - 40;
            sensor.Span[row][p] = static_cast<uint16_t>(std::lround(span));
            sensor.Dark[row][p] = static_cast<uint16_t>(std::lround(kNominalDark + wave + darkJitter));
        }
    }
}
