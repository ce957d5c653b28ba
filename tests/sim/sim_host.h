/*
 * sim_host.h - a SimDevice and the commands a driver sends it, built as
 * bytes the way a driver builds them.
 */
#ifndef SIM_HOST_H
#define SIM_HOST_H

#include "sim_bytes.h"
#include "sim_device.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

/* A window as a host describes it; ListBytes() makes the 69-byte list. */
struct WindowRequest {
    uint16_t Resolution = 600;
    int32_t X = 0, Y = 0;
    uint32_t Width = 600, Length = 60;
    uint8_t Composition = kColor, Depth = 8, Threshold = 128, Lens = 0, SourceCode = 0x10;
    std::vector<uint8_t> ListBytes() const
    {
        std::vector<uint8_t> l(69, 0);
        PutBig16(&l[6], 61);
        PutBig16(&l[10], Resolution);
        PutBig16(&l[12], Resolution);
        PutBig32(&l[14], static_cast<uint32_t>(X));
        PutBig32(&l[18], static_cast<uint32_t>(Y));
        PutBig32(&l[22], Width);
        PutBig32(&l[26], Length);
        l[30] = l[32] = l[36] = l[49] = 128;
        l[31] = Threshold, l[33] = Composition, l[34] = Depth, l[38] = Lens, l[39] = SourceCode, l[50] = 255;
        for (int group = 51; group < 69; group += 6)
            l[group] = l[group + 1] = l[group + 4] = 128, l[group + 5] = 255;
        return l;
    }
};

using Sense = std::array<uint8_t, 14>;

inline std::vector<uint8_t> Cdb10(uint8_t opcode, uint8_t type, uint8_t q4, uint8_t q5, uint32_t length)
{
    return {opcode, 0, type, 0, q4, q5, uint8_t(length >> 16), uint8_t(length >> 8), uint8_t(length), 0};
}

struct SimHost {
    SimDevice Device;

    /* Any command: direction 1 reads into buffer, 2 sends from it, else no data. */
    uint32_t Run(std::vector<uint8_t> cdb, int direction, void *buffer, uint32_t length, uint16_t timeout = 30)
    {
        CommandRecord command{timeout, static_cast<uint16_t>(cdb.size()), cdb.data()};
        TransferRecord in{0, nullptr}, out{0, nullptr};
        if (direction == 1)
            in = {length, buffer};
        else if (direction == 2)
            out = {length, buffer};
        return SimExecute(Device, command, &in, &out);
    }
    uint32_t Send(uint8_t type, uint8_t qualifier, std::vector<uint8_t> data)
    {
        uint32_t n = static_cast<uint32_t>(data.size());
        return Run(Cdb10(0x2A, type, 0, qualifier, n), 2, data.data(), n);
    }

    uint32_t TestUnitReady() { return Run({0, 0, 0, 0, 0, 0}, 0, nullptr, 0, 10); }
    uint32_t Inquiry(uint8_t out[37]) { return Run({0x12, 0, 0, 0, 37, 0}, 1, out, 37, 1); }
    Sense RequestSense()
    {
        Sense sense{};
        EXPECT_EQ(Run({0x03, 0, 0, 0, 14, 0}, 1, sense.data(), 14, 1), BUSLNK_GOOD);
        return sense;
    }
    uint32_t SetWindowList(std::vector<uint8_t> list) { return Run(Cdb10(0x24, 0, 0, 0, 69), 2, list.data(), 69); }
    uint32_t SetWindow(const WindowRequest &window) { return SetWindowList(window.ListBytes()); }
    /* Reads length bytes of image into a buffer filled with 0xEE; a READ of nothing ends the image. */
    std::vector<uint8_t> ReadImage(uint32_t length, uint32_t *status = nullptr)
    {
        std::vector<uint8_t> bytes(length, 0xEE);
        uint32_t s = Run(Cdb10(0x28, 0, 0, 0, length), 1, bytes.data(), length);
        if (status != nullptr)
            *status = s;
        return bytes;
    }
    uint32_t EndImage() { return Run(Cdb10(0x28, 0, 0, 0, 0), 1, nullptr, 0); }
    /* Pixels, bytes per line, lines. */
    std::array<uint32_t, 3> Geometry(uint32_t *status = nullptr)
    {
        uint8_t p[16] = {};
        uint32_t s = Run(Cdb10(0x28, 0x80, 0, 0, 16), 1, p, 16);
        if (status != nullptr)
            *status = s;
        return {GetBig32(p), GetBig32(p + 4), GetBig32(p + 8)};
    }
    uint32_t ReadLamp(uint8_t page[9]) { return Run(Cdb10(0x28, 0x81, 0, 0, 9), 1, page, 9, 60); }
    std::array<uint8_t, 9> Lamp()
    {
        std::array<uint8_t, 9> page{};
        EXPECT_EQ(ReadLamp(page.data()), BUSLNK_GOOD);
        return page;
    }
    uint32_t SendLamp(std::array<uint8_t, 9> page) { return Send(0x81, 0, {page.begin(), page.end()}); }
    uint32_t SendLampControl(uint8_t byte0) { return Send(0x81, 0, {byte0}); }
    uint32_t SendShading(uint8_t qualifier, std::vector<uint8_t> data) { return Send(0x01, qualifier, data); }
    uint32_t SendGamma(uint8_t qualifier, std::vector<uint8_t> data) { return Send(0x03, qualifier, data); }
    uint32_t SendHalftone(std::vector<uint8_t> data) { return Send(0x02, 0x80, data); }

    /* Applies a configuration key; fails the test on refusal. */
    void Configure(const char *key, const char *value)
    {
        std::string error;
        EXPECT_EQ(SimConfigureDevice(Device, key, value, error), 0) << key << "=" << value << ": " << error;
    }
    /* Scans the window whole and returns its bytes. */
    std::vector<uint8_t> Scan(const WindowRequest &window)
    {
        EXPECT_EQ(SetWindow(window), BUSLNK_GOOD);
        std::array<uint32_t, 3> g = Geometry();
        uint32_t status = 0;
        std::vector<uint8_t> bytes = ReadImage(g[1] * g[2], &status);
        EXPECT_EQ(status, BUSLNK_GOOD);
        return bytes;
    }
};

/* A host on the given model with the ideal sensor (a raw sample is the
 * reflectance itself) and no noise: every pixel is predictable. */
inline SimHost IdealHost(const char *model = "flatbed600")
{
    SimHost host;
    host.Configure("model", model);
    host.Configure("sensor", "ideal");
    host.Configure("noise", "off");
    return host;
}

/* Little-endian 16-bit sample i of a buffer. */
inline uint32_t Sample16(const std::vector<uint8_t> &bytes, size_t i) { return bytes[2 * i] | (bytes[2 * i + 1] << 8); }

#endif
