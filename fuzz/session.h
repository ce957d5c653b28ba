/*
 * session.h - one whole driver session scripted by a byte string: what the
 * scanner answers (identity, pages, geometry, image data, colour tags, status
 * words and sense for any command, early ends) and what the application asks
 * (attributes of two scans, image requests, calls out of order). The fuzzer,
 * the seed writer and the corpus tests all go through here, so a file found
 * by the fuzzer replays the same way under GoogleTest.
 *
 * The byte layout is defined once, by VisitSession: decoding and encoding
 * walk the same fields in the same order. Missing bytes read as 0.
 */
#ifndef SCANDRV_FUZZ_SESSION_H
#define SCANDRV_FUZZ_SESSION_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzzsession {

constexpr int kPageSlots = 4;     /* parameter pages, lamp pages, geometries: answered in turn */
constexpr int kFaultSlots = 8;    /* commands answered with a status of the script's choosing */
constexpr int kRequestSlots = 12; /* vScannerGetImage calls per scan */
constexpr int kTagSlots = 8;

/* Geometry answers: the numbers as given, or what the last window asked for
 * (as a well-behaved scanner reports it) plus the given numbers as offsets. */
enum GeometryMode : uint8_t { kGeometryRaw = 0, kGeometryFromWindow = 1 };

/* Colour tags written at every segment start of image data. */
enum TagMode : uint8_t {
    kTagsNone = 0,   /* image data is the fill pattern only */
    kTagsScript = 1, /* the tag script, over and over */
    kTagsGap = 2,    /* red of line j, green of line j - gap, blue of line j - 2 gap */
};

struct GeometrySlot {
    uint8_t Mode;
    uint32_t Pixels, LineBytes, Lines;
};

/* The n-th adapter command of the session (REQUEST SENSE not counted) ends
 * with Status. Status 1 hands Asc/Ascq/Information to the REQUEST SENSE that
 * follows, which itself ends with SenseStatus. Data in is cut to DataLimit. */
struct Fault {
    uint16_t Command;
    uint32_t Status;
    uint8_t Asc, Ascq;
    uint32_t Information;
    uint32_t SenseStatus;
    uint32_t DataLimit;
};

/* Bits of ScanRequest.Pointers: which caller memory the block points to. */
constexpr uint8_t kGivePattern = 0x01;
constexpr uint8_t kGiveToneLevels = 0x02;
constexpr uint8_t kGiveGammaTable = 0x04;

/* A request value with this bit passes no image buffer. */
constexpr uint16_t kNullBuffer = 0x8000;

struct ScanRequest {
    uint16_t ImageType, ScanSource, BitsPerPixel, HalftoneMode, HalftonePattern, PatternSize;
    uint16_t Resolution, Left, Top, Right, Bottom, Flags, GammaScale;
    int32_t Contrast[3], Brightness[3], Adjust[3];
    uint8_t Pointers;
    uint16_t ToneLevels[9];
    uint8_t TableSeed; /* contents of the gamma table and the pattern */
    uint8_t Calls;
    uint16_t Request[kRequestSlots];
};

/* Bits of SessionScript.Order: calls an application should not make, or not
 * in this order. */
constexpr uint8_t kImageBeforeStart = 0x01;
constexpr uint8_t kAbortTwice = 0x02;
constexpr uint8_t kNoAbortBetween = 0x04;
constexpr uint8_t kStartBeforeInit = 0x08;
constexpr uint8_t kSelectLens = 0x10;
constexpr uint8_t kLampCalls = 0x20;
constexpr uint8_t kPaperPolls = 0x40;
constexpr uint8_t kNullBlocks = 0x80;

struct SessionScript {
    /* INQUIRY bytes 0, 2, 3, the revision text (32-35) and the model (36). */
    uint8_t InquiryType, InquiryVersion, InquiryFormat;
    uint8_t Revision[4];
    uint8_t Model;
    /* The settings file's values. */
    uint8_t ApplyInGamma, ImageSetting, CalibrateSetting;
    uint16_t Factor[3];

    uint8_t PageCount;
    uint8_t Page[kPageSlots][40];
    uint8_t LampCount;
    uint8_t Lamp[kPageSlots][9];
    uint8_t GeometryCount;
    GeometrySlot Geometry[kPageSlots];

    uint8_t Tags, TagGap, TagScriptLength;
    uint8_t TagScript[kTagSlots];
    uint8_t Fill[8];
    uint32_t ReadLimit; /* bytes of image data per READ; 0 = up to the harness's bound */

    uint8_t FaultCount;
    Fault Faults[kFaultSlots];

    uint16_t DefaultSource;
    uint16_t CapSources, CapFeatures, CapSetting;
    uint8_t CapLists; /* bits 0-4: contrast, brightness, adjust, resolution, pattern list given */
    uint8_t Order;
    uint16_t Lens;
    uint16_t LampState;
    uint32_t LampTimer;

    ScanRequest Scan[2];
};

/* Walks every field in layout order; io reads or writes each. */
template <typename IO> void VisitSession(IO &io, SessionScript &s)
{
    io.U8(s.InquiryType);
    io.U8(s.InquiryVersion);
    io.U8(s.InquiryFormat);
    for (uint8_t &b : s.Revision)
        io.U8(b);
    io.U8(s.Model);
    io.U8(s.ApplyInGamma);
    io.U8(s.ImageSetting);
    io.U8(s.CalibrateSetting);
    for (uint16_t &f : s.Factor)
        io.U16(f);
    io.U8(s.PageCount);
    for (auto &page : s.Page)
        for (uint8_t &b : page)
            io.U8(b);
    io.U8(s.LampCount);
    for (auto &lamp : s.Lamp)
        for (uint8_t &b : lamp)
            io.U8(b);
    io.U8(s.GeometryCount);
    for (GeometrySlot &g : s.Geometry) {
        io.U8(g.Mode);
        io.U32(g.Pixels);
        io.U32(g.LineBytes);
        io.U32(g.Lines);
    }
    io.U8(s.Tags);
    io.U8(s.TagGap);
    io.U8(s.TagScriptLength);
    for (uint8_t &b : s.TagScript)
        io.U8(b);
    for (uint8_t &b : s.Fill)
        io.U8(b);
    io.U32(s.ReadLimit);
    io.U8(s.FaultCount);
    for (Fault &f : s.Faults) {
        io.U16(f.Command);
        io.U32(f.Status);
        io.U8(f.Asc);
        io.U8(f.Ascq);
        io.U32(f.Information);
        io.U32(f.SenseStatus);
        io.U32(f.DataLimit);
    }
    io.U16(s.DefaultSource);
    io.U16(s.CapSources);
    io.U16(s.CapFeatures);
    io.U16(s.CapSetting);
    io.U8(s.CapLists);
    io.U8(s.Order);
    io.U16(s.Lens);
    io.U16(s.LampState);
    io.U32(s.LampTimer);
    for (ScanRequest &r : s.Scan) {
        for (uint16_t *w : {&r.ImageType, &r.ScanSource, &r.BitsPerPixel, &r.HalftoneMode,
                            &r.HalftonePattern, &r.PatternSize, &r.Resolution, &r.Left, &r.Top,
                            &r.Right, &r.Bottom, &r.Flags, &r.GammaScale})
            io.U16(*w);
        for (int c = 0; c < 3; ++c) {
            io.I32(r.Contrast[c]);
            io.I32(r.Brightness[c]);
            io.I32(r.Adjust[c]);
        }
        io.U8(r.Pointers);
        for (uint16_t &t : r.ToneLevels)
            io.U16(t);
        io.U8(r.TableSeed);
        io.U8(r.Calls);
        for (uint16_t &q : r.Request)
            io.U16(q);
    }
}

SessionScript DecodeSession(const uint8_t *data, size_t size);
std::vector<uint8_t> EncodeSession(const SessionScript &script);

/* One command the scanner answered (REQUEST SENSE not counted). */
struct CommandNote {
    uint8_t Opcode, DataType;
    uint32_t Length;
};

/* What a session did, for the tests that check the seeds. */
struct SessionOutcome {
    std::vector<CommandNote> Commands; /* numbered from 1 as Fault.Command counts them */
    uint32_t InitResult = 0, StartResult[2] = {0, 0};
    uint32_t LinesDelivered[2] = {0, 0};
    uint32_t LinesPromised[2] = {0, 0}; /* wLength after each successful start */
    bool ScanCompleted[2] = {false, false};
    /* Broken promises: results outside the table, counts that do not add
     * up, writes where none may happen, memory left behind. Empty when
     * the driver kept every one. */
    std::vector<std::string> Failures;
};

/* Runs one session against the fake adapter from freshly loaded driver
 * state. Bounded in time by the input: a few ms at most. */
SessionOutcome RunSession(const uint8_t *data, size_t size);

} // namespace fuzzsession

#endif
