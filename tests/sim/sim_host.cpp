/*
 * sim_host.cpp - building CDBs and transfer records for the tests, and the
 * host's half of a calibration.
 */
#include "sim_host.h"

#include "sim_bytes.h"

#include <gtest/gtest.h>

std::vector<uint8_t> WindowRequest::ListBytes() const
{
    std::vector<uint8_t> list(69, 0);
    PutBig16(&list[6], 61);
    PutBig16(&list[10], Resolution);
    PutBig16(&list[12], Resolution);
    PutBig32(&list[14], static_cast<uint32_t>(X));
    PutBig32(&list[18], static_cast<uint32_t>(Y));
    PutBig32(&list[22], Width);
    PutBig32(&list[26], Length);
    list[30] = 128;
    list[31] = Threshold;
    list[32] = 128;
    list[33] = Composition;
    list[34] = Depth;
    list[36] = 128;
    list[38] = Lens;
    list[39] = SourceCode;
    list[49] = 128;
    list[50] = 255;
    return list;
}

uint32_t SimHost::Run(const std::vector<uint8_t> &cdb, int direction, void *buffer, uint32_t length,
                      uint16_t timeout)
{
    std::vector<uint8_t> bytes = cdb;
    CommandRecord command{timeout, static_cast<uint16_t>(bytes.size()), bytes.data()};
    TransferRecord in{0, nullptr}, out{0, nullptr};
    if (direction == 1)
        in = {length, buffer};
    else if (direction == 2)
        out = {length, buffer};
    return SimExecute(Device, command, &in, &out);
}

static std::vector<uint8_t> Cdb10(uint8_t opcode, uint8_t type, uint8_t q4, uint8_t q5, uint32_t length)
{
    return {opcode, 0, type, 0, q4, q5, uint8_t(length >> 16), uint8_t(length >> 8), uint8_t(length), 0};
}

uint32_t SimHost::TestUnitReady() { return Run({0, 0, 0, 0, 0, 0}, 0, nullptr, 0, 10); }

uint32_t SimHost::Inquiry(uint8_t out[37]) { return Run({0x12, 0, 0, 0, 37, 0}, 1, out, 37, 1); }

Sense SimHost::RequestSense()
{
    Sense sense{};
    EXPECT_EQ(Run({0x03, 0, 0, 0, 14, 0}, 1, sense.data(), 14, 1), BUSLNK_GOOD);
    return sense;
}

uint32_t SimHost::SetWindowList(const std::vector<uint8_t> &list)
{
    std::vector<uint8_t> copy = list;
    return Run({0x24, 0, 0, 0, 0, 0, 0, 0, 69, 0}, 2, copy.data(), static_cast<uint32_t>(copy.size()));
}

uint32_t SimHost::SetWindow(const WindowRequest &window) { return SetWindowList(window.ListBytes()); }

uint32_t SimHost::ReadImage(void *buffer, uint32_t length)
{
    return Run(Cdb10(0x28, 0x00, 0, 0, length), 1, buffer, length);
}

std::vector<uint8_t> SimHost::ReadImage(uint32_t length, uint32_t *status)
{
    std::vector<uint8_t> bytes(length, 0xEE);
    uint32_t s = ReadImage(bytes.data(), length);
    if (status != nullptr)
        *status = s;
    return bytes;
}

uint32_t SimHost::EndImage() { return ReadImage(nullptr, 0); }

std::array<uint32_t, 3> SimHost::Geometry(uint32_t *status)
{
    uint8_t page[16] = {};
    uint32_t s = Run(Cdb10(0x28, 0x80, 0, 0, 16), 1, page, 16);
    if (status != nullptr)
        *status = s;
    return {GetBig32(page), GetBig32(page + 4), GetBig32(page + 8)};
}

uint32_t SimHost::ReadParameters(uint8_t lens, uint8_t variant, uint8_t out[40])
{
    return Run(Cdb10(0x28, 0x82, lens, variant, 40), 1, out, 40);
}

uint32_t SimHost::ReadLamp(uint8_t page[9]) { return Run(Cdb10(0x28, 0x81, 0, 0, 9), 1, page, 9, 60); }

uint32_t SimHost::SendLamp(const uint8_t page[9])
{
    uint8_t copy[9];
    std::copy(page, page + 9, copy);
    return Run(Cdb10(0x2A, 0x81, 0, 0, 9), 2, copy, 9, 60);
}

uint32_t SimHost::SendLampControl(uint8_t byte0) { return Run(Cdb10(0x2A, 0x81, 0, 0, 1), 2, &byte0, 1, 60); }

uint32_t SimHost::SendShading(uint8_t qualifier, const std::vector<uint8_t> &data)
{
    std::vector<uint8_t> copy = data;
    return Run(Cdb10(0x2A, 0x01, 0, qualifier, static_cast<uint32_t>(copy.size())), 2, copy.data(),
               static_cast<uint32_t>(copy.size()));
}

uint32_t SimHost::SendGamma(uint8_t qualifier, const std::vector<uint8_t> &data)
{
    std::vector<uint8_t> copy = data;
    return Run(Cdb10(0x2A, 0x03, 0, qualifier, static_cast<uint32_t>(copy.size())), 2, copy.data(),
               static_cast<uint32_t>(copy.size()));
}

uint32_t SimHost::SendHalftone(const std::vector<uint8_t> &data)
{
    std::vector<uint8_t> copy = data;
    return Run(Cdb10(0x2A, 0x02, 0, 0x80, static_cast<uint32_t>(copy.size())), 2, copy.data(),
               static_cast<uint32_t>(copy.size()));
}

void SimHost::Configure(const char *key, const char *value)
{
    std::string error;
    ASSERT_EQ(SimConfigureDevice(Device, key, value, error), 0) << key << "=" << value << ": " << error;
}

std::vector<uint8_t> SimHost::Scan(const WindowRequest &window)
{
    EXPECT_EQ(SetWindow(window), BUSLNK_GOOD);
    std::array<uint32_t, 3> g = Geometry();
    uint32_t status = 0;
    std::vector<uint8_t> bytes = ReadImage(g[1] * g[2], &status);
    EXPECT_EQ(status, BUSLNK_GOOD);
    return bytes;
}

void EncodeCorrection(uint32_t dark, uint32_t white, uint16_t &offsetWord, uint16_t &gainWord)
{
    uint32_t range = white > dark ? white - dark : 63920;
    if (white <= dark)
        dark = 80;
    if (range >= 63920)
        range = 63919;
    uint32_t gain = 4188997200u / range;
    uint32_t shift = range * 80 / 63920;
    offsetWord = static_cast<uint16_t>(dark > shift ? dark - shift : 0);
    uint32_t excess = gain - 65535;
    if (excess < 65536) {
        gainWord = static_cast<uint16_t>(excess);
    } else {
        gainWord = static_cast<uint16_t>(excess + 1);
        offsetWord |= 0x4000;
    }
}

uint32_t CalibratedLevel(uint32_t reflectance) { return 80 + reflectance * 63920 / 255; }

void CalibrateLikeAHost(SimHost &host, unsigned rows, uint8_t lens)
{
    uint8_t page[40];
    ASSERT_EQ(host.ReadParameters(lens, 0, page), BUSLNK_GOOD);
    uint32_t base = GetBig16(page + 11), sites = GetBig16(page + 7);
    int32_t whiteY = static_cast<int32_t>(GetBig32(page + 19));
    WindowRequest pass;
    pass.Resolution = static_cast<uint16_t>(base);
    pass.Width = sites;
    pass.Length = 64;
    pass.Composition = rows == 3 ? kColor : kGrey;
    pass.Depth = 16;
    pass.Lens = lens;
    pass.SourceCode = 0x30;
    std::vector<uint8_t> levels[2];
    for (int dark = 0; dark < 2; ++dark) {
        pass.Y = dark ? -332 : whiteY;
        ASSERT_EQ(host.SendLampControl(dark ? 0x05 : 0x01), BUSLNK_GOOD);
        std::vector<uint8_t> bytes = host.Scan(pass);
        ASSERT_EQ(bytes.size(), 64u * sites * rows * 2);
        levels[dark] = bytes;
    }
    std::vector<uint8_t> offsets, gains;
    for (unsigned row = 0; row < rows; ++row)
        for (uint32_t s = 0; s < sites; ++s) {
            uint32_t sum[2] = {0, 0};
            for (int dark = 0; dark < 2; ++dark)
                for (uint32_t line = 0; line < 64; ++line)
                    sum[dark] += Sample16(levels[dark], (line * sites + s) * rows + row);
            uint16_t offsetWord, gainWord;
            EncodeCorrection(sum[1] / 64, sum[0] / 64, offsetWord, gainWord);
            offsets.push_back(uint8_t(offsetWord));
            offsets.push_back(uint8_t(offsetWord >> 8));
            gains.push_back(uint8_t(gainWord));
            gains.push_back(uint8_t(gainWord >> 8));
        }
    uint8_t code = rows == 3 ? 0x60 : 0x20;
    ASSERT_EQ(host.SendShading(code | 0x03, offsets), BUSLNK_GOOD);
    ASSERT_EQ(host.SendShading(code | 0x01, gains), BUSLNK_GOOD);
    ASSERT_EQ(host.SendLampControl(0x01), BUSLNK_GOOD);
}
