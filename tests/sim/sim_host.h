/*
 * sim_host.h - the host side of the simulator's tests: a SimDevice and the
 * commands a driver sends it, each built as bytes the way a driver builds
 * them (CDB, transfer records), so that tests read like a conversation with
 * a scanner. Also the window parameter list and the host's computation of
 * shading correction words from calibration passes.
 */
#ifndef SIM_HOST_H
#define SIM_HOST_H

#include "sim_device.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

/* A window as a host describes it; ListBytes() makes the 69-byte list. */
struct WindowRequest {
    uint16_t Resolution = 600;
    int32_t X = 0, Y = 0;
    uint32_t Width = 600, Length = 60;
    uint8_t Composition = kColor;
    uint8_t Depth = 8;
    uint8_t Threshold = 128;
    uint8_t Lens = 0;
    uint8_t SourceCode = 0x10;
    std::vector<uint8_t> ListBytes() const;
};

using Sense = std::array<uint8_t, 14>;

struct SimHost {
    SimDevice Device;

    /* Any command: direction 1 reads into buffer, 2 sends from it, else no data. */
    uint32_t Run(const std::vector<uint8_t> &cdb, int direction, void *buffer, uint32_t length,
                 uint16_t timeout = 30);

    uint32_t TestUnitReady();
    uint32_t Inquiry(uint8_t out[37]);
    Sense RequestSense();
    uint32_t SetWindow(const WindowRequest &window);
    uint32_t SetWindowList(const std::vector<uint8_t> &list);
    uint32_t ReadImage(void *buffer, uint32_t length);
    /* Reads length bytes of image; the status lands in *status when given. */
    std::vector<uint8_t> ReadImage(uint32_t length, uint32_t *status = nullptr);
    uint32_t EndImage();
    std::array<uint32_t, 3> Geometry(uint32_t *status = nullptr); /* pixels, bytes per line, lines */
    uint32_t ReadParameters(uint8_t lens, uint8_t variant, uint8_t out[40]);
    uint32_t ReadLamp(uint8_t page[9]);
    uint32_t SendLamp(const uint8_t page[9]);
    uint32_t SendLampControl(uint8_t byte0);
    uint32_t SendShading(uint8_t qualifier, const std::vector<uint8_t> &data);
    uint32_t SendGamma(uint8_t qualifier, const std::vector<uint8_t> &data);
    uint32_t SendHalftone(const std::vector<uint8_t> &data);

    /* Applies configuration keys; fails the test on refusal. */
    void Configure(const char *key, const char *value);
    /* Scans the window whole and returns its bytes. */
    std::vector<uint8_t> Scan(const WindowRequest &window);
};

/* Correction words of one site, computed from its dark and white levels as
 * a host does: R = W - D (63920 when W <= D), G = 63920 x 65535 / R, offset
 * D - R x 80 / 63920, gain G - 65535; G of 131071 or more sets bit 14 of the
 * offset word and sends the low 16 bits of G - 65535 + 1. */
void EncodeCorrection(uint32_t dark, uint32_t white, uint16_t &offsetWord, uint16_t &gainWord);

/* A calibrated scan's sample for an 8-bit reflectance: 80 + r x 63920 / 255. */
uint32_t CalibratedLevel(uint32_t reflectance);

/* Runs white and dark passes over the whole sensor, as a host's calibration
 * does, and sends offset and gain tables built with EncodeCorrection from
 * the per-site means. Colour when rows is 3, else the one (green) row. */
void CalibrateLikeAHost(SimHost &host, unsigned rows, uint8_t lens = 0);

/* Little-endian 16-bit sample i of a buffer. */
inline uint32_t Sample16(const std::vector<uint8_t> &bytes, size_t i)
{
    return bytes[2 * i] | (bytes[2 * i + 1] << 8);
}

#endif
