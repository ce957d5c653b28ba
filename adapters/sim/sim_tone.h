/*
 * sim_tone.h - the scanner's tone controls: brightness, contrast and the
 * shadow, midtone and highlight levels a window sets, per sensor row. They
 * shape the corrected sample before the host's gamma table, as the analog
 * front end of a scanner does.
 */
#ifndef SIM_TONE_H
#define SIM_TONE_H

#include <cstdint>

/* The window bytes as sent: 128 is neutral for brightness and contrast. */
struct SimTone {
    uint8_t Brightness = 128, Contrast = 128;
    uint8_t Shadow = 0, Midtone = 128, Highlight = 255;
    bool operator==(const SimTone &other) const = default;
};

/* Fills response[x] = gamma[tone(x)] for every 16-bit sample x. The neutral
 * tone leaves gamma as it is, entry for entry. */
void BuildToneResponse(const SimTone &tone, const uint16_t *gamma, uint16_t *response);

#endif
