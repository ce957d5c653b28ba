/*
 * sim_tone.cpp - the tone curve of a window. The shadow and highlight levels
 * stretch their span to the full range, the midtone level becomes the middle
 * grey through a power curve, contrast scales around the middle and
 * brightness shifts the whole curve; what falls outside is clipped.
 */
#include "sim_tone.h"

#include <algorithm>
#include <cmath>
#include <cstring>

void BuildToneResponse(const SimTone &tone, const uint16_t *gamma, uint16_t *response)
{
    if (tone == SimTone()) {
        std::memcpy(response, gamma, 65536 * sizeof *gamma);
        return;
    }
    const int shadow = tone.Shadow, highlight = tone.Highlight, midtone = tone.Midtone;
    const double low = shadow / 255.0, span = (highlight - shadow) / 255.0;
    /* A midtone at the rounded mean of shadow and highlight is a straight
     * line. Levels that leave no span (highlight at or below shadow) make a
     * threshold at the shadow level. */
    double exponent = 1;
    if (highlight > shadow && midtone != (shadow + highlight + 1) / 2) {
        double middle = std::clamp(double(midtone - shadow) / (highlight - shadow), 1 / 256.0, 255 / 256.0);
        exponent = std::log(0.5) / std::log(middle);
    }
    const double gain = tone.Contrast / 128.0;
    const double shift = (tone.Brightness - 128) / 256.0;
    for (uint32_t x = 0; x < 65536; ++x) {
        double t = x / 65535.0;
        t = span > 0 ? std::clamp((t - low) / span, 0.0, 1.0) : (t >= low ? 1.0 : 0.0);
        if (exponent != 1)
            t = std::pow(t, exponent);
        t = std::clamp(0.5 + (t - 0.5) * gain + shift, 0.0, 1.0);
        response[x] = gamma[std::lround(t * 65535)];
    }
}
