/*
 * color_segments.cpp - scanners with separate colour sensor lines send each
 * raw line as three tagged segments, one colour each, and the n-th red,
 * green and blue segment of the image arrive at different times (the colour
 * line gap). Here the segments are indexed per colour, paired into
 * pixel-interleaved colour lines, and the unpaired ones are kept at the
 * start of the raw area for the next READ.
 */
#include "image_reader.h"

#include "scan/scan_state.h"

#include <algorithm>
#include <cstring>

/* Set once the unpaired segments have been moved to the start of the raw
 * area; the tables no longer describe them until the next indexing. */
static bool SegmentsKept = false;

static void KeepUnpairedSegments();

void IndexColorSegments()
{
    TransferStateRecord &t = TransferState;
    uint32_t segmentBytes = t.ReportedLineBytes / 3;
    /* Each table has room for the raw area's lines plus twice the gap; a
     * scanner that sends more of one colour than that ends the walk as an
     * unknown tag does, rather than writing past the table. */
    uint32_t capacity = t.RawCapacity + 2u * ScanState.ColorLineGap;
    uint32_t red = 0, green = 0, blue = 0;
    uint32_t segments = t.RawAvailable * 3;
    for (uint32_t i = 0; i < segments; ++i) {
        uint32_t offset = i * segmentBytes;
        uint8_t tag = t.RawBuffer[offset];
        uint32_t data = offset + 2;
        if (tag == 'R' && red < capacity)
            t.RedTable[red++] = data;
        else if (tag == 'G' && green < capacity)
            t.GreenTable[green++] = data;
        else if (tag == 'B' && blue < capacity)
            t.BlueTable[blue++] = data;
        else
            break;
    }
    t.RedCount = static_cast<uint16_t>(red);
    t.GreenCount = static_cast<uint16_t>(green);
    t.BlueCount = static_cast<uint16_t>(blue);
    t.RedNext = t.GreenNext = t.BlueNext = 0;
    t.RawAvailable = std::min({red, green, blue});
    SegmentsKept = false;
    /* A chunk that completes no colour line still holds segments whose
     * partners are to come: keep them before the next READ lands. */
    if (t.RawAvailable == 0)
        KeepUnpairedSegments();
}

template <typename Sample>
static void Interleave(Sample *line, const uint8_t *red, const uint8_t *green, const uint8_t *blue,
                       uint32_t pixels)
{
    for (uint32_t x = 0; x < pixels; ++x) {
        Sample r, g, b;
        std::memcpy(&r, red + x * sizeof(Sample), sizeof(Sample));
        std::memcpy(&g, green + x * sizeof(Sample), sizeof(Sample));
        std::memcpy(&b, blue + x * sizeof(Sample), sizeof(Sample));
        line[3 * x] = r;
        line[3 * x + 1] = g;
        line[3 * x + 2] = b;
    }
}

/* Moves the unused segments, whole and with their tags, to the start of the
 * raw area: all red in order, then green, then blue. A segment's new place
 * may hold another that is still to move, so each move is a swap, and the
 * table entry of the segment swapped out is updated to where it went. */
static void KeepUnpairedSegments()
{
    TransferStateRecord &t = TransferState;
    uint32_t segmentBytes = t.ReportedLineBytes / 3;
    uint32_t *lists[3] = {t.RedTable + t.RedNext, t.GreenTable + t.GreenNext, t.BlueTable + t.BlueNext};
    uint32_t counts[3] = {t.RedCount, t.GreenCount, t.BlueCount};
    uint32_t slot = 0;
    for (int c = 0; c < 3; ++c) {
        for (uint32_t j = 0; j < counts[c]; ++j, ++slot) {
            uint32_t from = lists[c][j] - 2;
            uint32_t to = slot * segmentBytes;
            if (from == to)
                continue;
            std::swap_ranges(t.RawBuffer + from, t.RawBuffer + from + segmentBytes, t.RawBuffer + to);
            for (int later = c; later < 3; ++later)
                for (uint32_t k = later == c ? j + 1 : 0; k < counts[later]; ++k)
                    if (lists[later][k] == to + 2)
                        lists[later][k] = from + 2;
        }
    }
    t.RawKept = slot / 3;
    SegmentsKept = true;
}

bool AssembleColorLine()
{
    TransferStateRecord &t = TransferState;
    if (t.RedCount == 0 || t.GreenCount == 0 || t.BlueCount == 0) {
        if (!SegmentsKept)
            KeepUnpairedSegments();
        t.RawAvailable = 0;
        return false;
    }
    const uint8_t *red = t.RawBuffer + t.RedTable[t.RedNext++];
    const uint8_t *green = t.RawBuffer + t.GreenTable[t.GreenNext++];
    const uint8_t *blue = t.RawBuffer + t.BlueTable[t.BlueNext++];
    --t.RedCount;
    --t.GreenCount;
    --t.BlueCount;
    --t.RawAvailable;
    if (static_cast<int32_t>(t.TransferBits) > 8)
        Interleave(reinterpret_cast<uint16_t *>(t.ColorLine), red, green, blue, t.ReportedPixels);
    else
        Interleave(t.ColorLine, red, green, blue, t.ReportedPixels);
    if (t.RedCount == 0 || t.GreenCount == 0 || t.BlueCount == 0)
        KeepUnpairedSegments();
    return true;
}
