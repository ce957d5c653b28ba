/*
 * fake_scanner.cpp - the scripted scanner of the whole-export tests.
 */
#include "fake_scanner.h"

#include <cstring>

FakeScanner::FakeScanner()
{
    Page.fill(0);
    Page[0] = 0x80 | 0x01; /* colour by default, whole-pixel lines */
    SetBig16(3, 1200);     /* bilevel maxima */
    SetBig16(5, 1200);
    SetBig16(7, 5100);
    SetBig16(9, 7000);
    SetBig16(11, 600);
    Page[13] = 0x01 | 0x02 | 0x08;
    Page[17] = 0x80;
    Page[27] = 1;
    Lamp.fill(0);
    Lamp[0] = 0x01;
    InquiryData.fill(' ');
    InquiryData[0] = 6;
    InquiryData[1] = 0;
    InquiryData[2] = 2;
    InquiryData[3] = 2;
    std::memcpy(&InquiryData[32], "1.23", 4);
    InquiryData[36] = 100;
    Sample = [](uint32_t x, uint32_t y, uint32_t c) {
        return static_cast<uint16_t>((x * 7 + y * 3 + c * 50) & 0xFF);
    };
}

void FakeScanner::SetBig16(int at, uint16_t value)
{
    Page[at] = static_cast<uint8_t>(value >> 8);
    Page[at + 1] = static_cast<uint8_t>(value);
}

void FakeScanner::Install()
{
    fake::SetResponder([this](const RecordedCommand &command) { return Answer(command); });
}

static uint32_t Big32(const std::vector<uint8_t> &bytes, int at)
{
    return (uint32_t(bytes[at]) << 24) | (uint32_t(bytes[at + 1]) << 16) | (uint32_t(bytes[at + 2]) << 8) |
           bytes[at + 3];
}

bool FakeScanner::Calibrating() const
{
    /* Calibration windows carry source codes 0x30 and 0x32; scans 0x10-0x12. */
    return Window.size() >= 69 && Window[39] >= 0x30;
}

uint32_t FakeScanner::Pixels() const
{
    if (Window.size() < 69)
        return 0;
    uint32_t base = (uint32_t(Page[11]) << 8) | Page[12];
    uint32_t resolution = (uint32_t(Window[10]) << 8) | Window[11];
    return Big32(Window, 22) * resolution / base;
}

uint32_t FakeScanner::Lines() const
{
    if (Window.size() < 69)
        return 0;
    uint32_t base = (uint32_t(Page[11]) << 8) | Page[12];
    uint32_t resolution = (uint32_t(Window[12]) << 8) | Window[13];
    uint32_t length = Big32(Window, 26);
    /* Calibration windows ask for 64 lines, whatever the resolution. */
    return Calibrating() ? length : length * resolution / base;
}

uint32_t FakeScanner::LineBytes() const
{
    if (Window.size() < 69)
        return 0;
    uint32_t channels = Window[33] == 5 ? 3 : 1;
    uint32_t bits = Window[34];
    if (bits == 1)
        return (Pixels() + 7) / 8;
    uint32_t sampleBytes = bits > 8 ? 2 : 1;
    if (channels == 3 && (Page[0] & 7) == 3 && !Calibrating())
        return 3 * (2 + Pixels() * sampleBytes);
    return Pixels() * channels * sampleBytes;
}

std::vector<uint8_t> FakeScanner::Segment(char colour, uint32_t line) const
{
    uint32_t channel = colour == 'R' ? 0 : colour == 'G' ? 1 : 2;
    bool wide = Window[34] > 8;
    std::vector<uint8_t> segment = {static_cast<uint8_t>(colour), static_cast<uint8_t>(line)};
    for (uint32_t i = 0; i < Pixels(); ++i) {
        uint32_t x = Reversed ? Pixels() - 1 - i : i;
        uint16_t v = Sample(x, line, channel);
        segment.push_back(static_cast<uint8_t>(v));
        if (wide)
            segment.push_back(static_cast<uint8_t>(v >> 8));
    }
    return segment;
}

std::vector<uint8_t> FakeScanner::RawLine(uint32_t y) const
{
    std::vector<uint8_t> line;
    bool calibration = Calibrating();
    uint32_t channels = Window[33] == 5 ? 3 : 1;
    uint32_t bits = Window[34];
    if (!calibration && channels == 3 && (Page[0] & 7) == 3) {
        /* The segment stream: red of line j, green of line j - gap, blue of
         * line j - 2 gap, three segments to a raw line. */
        uint32_t lines = Lines();
        std::vector<std::pair<char, uint32_t>> stream;
        for (uint32_t j = 0; stream.size() < 3 * (y + 1) && j < lines + 2 * SegmentGap; ++j) {
            for (char colour : SegmentOrder) {
                uint32_t lag = colour == 'R' ? 0 : colour == 'G' ? SegmentGap : 2 * SegmentGap;
                if (j >= lag && j - lag < lines)
                    stream.push_back({colour, j - lag});
            }
        }
        for (size_t k = 3 * y; k < 3 * y + 3 && k < stream.size(); ++k) {
            std::vector<uint8_t> segment = Segment(stream[k].first, stream[k].second);
            line.insert(line.end(), segment.begin(), segment.end());
        }
        return line;
    }
    if (bits == 1) {
        line.assign(LineBytes(), 0);
        for (uint32_t i = 0; i < Pixels(); ++i) {
            uint32_t x = Reversed ? Pixels() - 1 - i : i;
            if (Sample(x, y, 0) & 1)
                line[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
        }
        return line;
    }
    for (uint32_t i = 0; i < Pixels(); ++i) {
        uint32_t x = Reversed && !calibration ? Pixels() - 1 - i : i;
        for (uint32_t ch = 0; ch < channels; ++ch) {
            uint16_t v = calibration ? static_cast<uint16_t>(LampControl & 0x04 ? 300 + ch : 40000 + 10 * ch)
                                     : Sample(x, y, ch);
            line.push_back(static_cast<uint8_t>(v));
            if (calibration || bits > 8)
                line.push_back(static_cast<uint8_t>(v >> 8));
        }
    }
    return line;
}

FakeReply FakeScanner::Answer(const RecordedCommand &c)
{
    FakeReply reply;
    uint8_t op = c.Opcode();
    uint8_t type = c.Cdb.size() > 2 ? c.Cdb[2] : 0;
    if (op == 0x12) {
        reply.Data.assign(InquiryData.begin(), InquiryData.end());
    } else if (op == 0x24) {
        Window = c.DataOut;
        nextLine = 0;
    } else if (op == 0x28 && type == 0x82) {
        reply.Data.assign(Page.begin(), Page.end());
    } else if (op == 0x28 && type == 0x81) {
        reply.Data.assign(Lamp.begin(), Lamp.end());
    } else if (op == 0x2A && type == 0x81 && c.Length == 1) {
        LampControl = c.DataOut[0];
    } else if (op == 0x2A && type == 0x81) {
        /* Bit 5 of byte 0 is the scanner's own report; writing does not change it. */
        uint8_t valid = Lamp[0] & 0x20;
        std::memcpy(Lamp.data(), c.DataOut.data(), Lamp.size());
        Lamp[0] = static_cast<uint8_t>((Lamp[0] & ~0x20) | valid);
    } else if (op == 0x28 && type == 0x80) {
        reply.Data.assign(16, 0);
        uint32_t values[3] = {Pixels(), LineBytes(), Lines()};
        for (int i = 0; i < 3; ++i)
            for (int b = 0; b < 4; ++b)
                reply.Data[4 * i + b] = static_cast<uint8_t>(values[i] >> (24 - 8 * b));
    } else if (op == 0x28 && type == 0x00 && c.Length > 0 && Window.size() >= 69) {
        uint32_t lineBytes = LineBytes();
        uint32_t count = lineBytes ? c.Length / lineBytes : 0;
        uint32_t total = Lines();
        if (EndAfterLines >= 0 && !Calibrating())
            total = static_cast<uint32_t>(EndAfterLines);
        uint32_t sent = 0;
        for (; sent < count && nextLine < total; ++sent, ++nextLine) {
            std::vector<uint8_t> line = RawLine(nextLine);
            reply.Data.insert(reply.Data.end(), line.begin(), line.end());
        }
        if (sent < count) {
            reply = fake::CheckCondition(0x00, 0x05, sent * lineBytes);
            /* The lines before the end arrive all the same. */
            for (uint32_t y = nextLine - sent; y < nextLine; ++y) {
                std::vector<uint8_t> line = RawLine(y);
                reply.Data.insert(reply.Data.end(), line.begin(), line.end());
            }
        }
    } else if (op == 0x28 && type == 0x00 && c.Length == 0) {
        nextLine = 0;
    }
    if (Hook)
        Hook(c, reply);
    return reply;
}
