/*
 * session.cpp - runs one scripted session: the scanner behind the fake
 * adapter answers from the script, the application side calls the ten
 * exports with blocks and buffers exactly as large as documented, and every
 * answer is checked against what the driver promises its caller.
 *
 * The bounds below keep a session to a few milliseconds whatever the script
 * says. They limit what this scanner sends and what this application asks
 * for, never what the driver is allowed to do.
 */
#include "session.h"

#include "fake_adapter.h"

#include "api/device_control.h"
#include "entry/settings.h"
#include "image/image_reader.h"
#include "pipeline/line_pipeline.h"
#include "platform/platform.h"
#include "scan/calibration.h"
#include "scan/halftone.h"
#include "scan/scan_state.h"
#include "scsi/byte_order.h"
#include "scsi/commands.h"
#include "scsi/executor.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>

namespace fuzzsession {

namespace {

/* --- Bounds of a session ------------------------------------------------ */

/* The glass width in pixels: calibration works on every pixel of it, 128
 * samples each, for up to three channels. */
constexpr uint32_t kGlassPixelsBound = 512;
/* Raw lines times line bytes the scanner announces: the pipeline may have to
 * walk all of them to make one reduced line. */
constexpr uint64_t kAnnouncedBytesBound = 4u << 20;
/* Image data the scanner actually puts on the bus per READ; the rest of a
 * longer READ is what the buffer held before. */
constexpr uint32_t kReadBytesBound = 256u << 10;
/* Lines the application asks for, weighed by the larger of the delivered
 * and the scanner's line length (an enlarged line blends a whole scanner
 * line): per call, and over the session. */
constexpr uint64_t kCallLineBytesBound = 512u << 10;
constexpr uint64_t kSessionLineBytesBound = 2u << 20;

/* The scanner's byte loops are the harness's, not the driver's: the fuzzer
 * need not trace their comparisons. */
#if defined(__clang__)
#define SCANNER_LOOP __attribute__((no_sanitize("coverage")))
#else
#define SCANNER_LOOP
#endif

/* What an untouched caller buffer holds. */
constexpr uint8_t kCanary = 0xA5;

/* --- The byte layout ------------------------------------------------------ */

class Reader {
public:
    Reader(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    void U8(uint8_t &v) { v = Next(); }
    void U16(uint16_t &v)
    {
        v = static_cast<uint16_t>(Next() | Next() << 8);
    }
    void U32(uint32_t &v)
    {
        v = 0;
        for (int i = 0; i < 4; ++i)
            v |= uint32_t{Next()} << (8 * i);
    }
    void I32(int32_t &v)
    {
        uint32_t u;
        U32(u);
        v = static_cast<int32_t>(u);
    }

private:
    uint8_t Next() { return at_ < size_ ? data_[at_++] : 0; }
    const uint8_t *data_;
    size_t size_;
    size_t at_ = 0;
};

class Writer {
public:
    void U8(uint8_t &v) { bytes.push_back(v); }
    void U16(uint16_t &v)
    {
        bytes.push_back(static_cast<uint8_t>(v));
        bytes.push_back(static_cast<uint8_t>(v >> 8));
    }
    void U32(uint32_t &v)
    {
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void I32(int32_t &v)
    {
        uint32_t u = static_cast<uint32_t>(v);
        U32(u);
    }
    std::vector<uint8_t> bytes;
};

/* --- The scanner ---------------------------------------------------------- */

class ScriptedScanner {
public:
    ScriptedScanner(const SessionScript &script, std::vector<CommandNote> &log) : script_(script), log_(log) {}

    FakeReply Answer(const RecordedCommand &command);

    /* Statuses outside 0-3 and 24 that the script made commands end with:
     * the driver passes them on as results. */
    std::set<int16_t> PassedThrough;
    /* Bytes of a scan line as this scanner last announced them. */
    uint32_t ScanLineBytes() const { return scanLineBytes_; }

private:
    void AnswerGeometry(FakeReply &reply);
    void AnswerImageData(const RecordedCommand &command, FakeReply &reply);
    uint8_t NextTag();
    bool Calibrating() const { return window_.size() >= 69 && window_[39] >= 0x30; }
    void ApplyFault(FakeReply &reply);

    const SessionScript &script_;
    std::vector<CommandNote> &log_;
    uint32_t commands_ = 0;
    uint32_t pageReads_ = 0, lampReads_ = 0, geometryReads_ = 0, imageReads_ = 0;
    std::vector<uint8_t> window_;
    uint8_t lastPage_[40] = {};
    uint32_t scanLineBytes_ = 0, scanLines_ = 0;
    uint32_t tagIndex_ = 0, tagLine_ = 0, tagPhase_ = 0;
};

uint32_t Big32(const std::vector<uint8_t> &bytes, size_t at)
{
    return ReadBigEndian32(bytes.data() + at);
}

void PutBig32(std::vector<uint8_t> &bytes, size_t at, uint32_t value)
{
    WriteBigEndian32(bytes.data() + at, value);
}

FakeReply ScriptedScanner::Answer(const RecordedCommand &command)
{
    FakeReply reply;
    const uint8_t op = command.Opcode();
    if (op == 0x03) {
        /* Sense asked for again after a busy REQUEST SENSE: nothing to report. */
        reply.Data.assign(14, 0);
        return reply;
    }
    ++commands_;
    const uint8_t type = command.Cdb.size() > 2 ? command.Cdb[2] : 0;
    log_.push_back({op, type, command.Length});
    if (op == 0x12) {
        reply.Data.assign(37, ' ');
        reply.Data[0] = script_.InquiryType;
        reply.Data[2] = script_.InquiryVersion;
        reply.Data[3] = script_.InquiryFormat;
        std::copy(std::begin(script_.Revision), std::end(script_.Revision), reply.Data.begin() + 32);
        reply.Data[36] = script_.Model;
    } else if (op == 0x24) {
        window_ = command.DataOut;
    } else if (op == 0x28 && type == 0x82) {
        const int slot = static_cast<int>(pageReads_++ % std::clamp<uint32_t>(script_.PageCount, 1, kPageSlots));
        std::memcpy(lastPage_, script_.Page[slot], sizeof lastPage_);
        uint16_t width = ReadBigEndian16(lastPage_ + 7);
        if (width > kGlassPixelsBound)
            WriteBigEndian16(lastPage_ + 7, static_cast<uint16_t>(width % (kGlassPixelsBound + 1)));
        reply.Data.assign(lastPage_, lastPage_ + sizeof lastPage_);
    } else if (op == 0x28 && type == 0x81) {
        const int slot = static_cast<int>(lampReads_++ % std::clamp<uint32_t>(script_.LampCount, 1, kPageSlots));
        reply.Data.assign(script_.Lamp[slot], script_.Lamp[slot] + 9);
    } else if (op == 0x28 && type == 0x80) {
        AnswerGeometry(reply);
    } else if (op == 0x28 && type == 0x00) {
        if (command.Length > 0)
            AnswerImageData(command, reply);
        else
            tagIndex_ = tagLine_ = tagPhase_ = 0; /* the image ends; the next starts afresh */
    }
    ApplyFault(reply);
    return reply;
}

void ScriptedScanner::AnswerGeometry(FakeReply &reply)
{
    const GeometrySlot &g =
        script_.Geometry[geometryReads_++ % std::clamp<uint32_t>(script_.GeometryCount, 1, kPageSlots)];
    uint64_t pixels = 0, lineBytes = 0, lines = 0;
    const bool calibrating = Calibrating();
    if (g.Mode == kGeometryFromWindow && window_.size() >= 69) {
        /* What a scanner that keeps to its window reports. */
        uint32_t base = ReadBigEndian16(lastPage_ + 11);
        if (base == 0)
            base = 1;
        const uint32_t resX = ReadBigEndian16(window_.data() + 10);
        const uint32_t resY = ReadBigEndian16(window_.data() + 12);
        pixels = uint64_t{Big32(window_, 22)} * resX / base;
        lines = calibrating ? Big32(window_, 26) : uint64_t{Big32(window_, 26)} * resY / base;
        const uint32_t channels = window_[33] == 5 ? 3 : 1;
        const uint32_t bits = window_[34];
        const uint32_t sampleBytes = bits > 8 ? 2 : 1;
        if (bits == 1)
            lineBytes = (pixels + 7) / 8;
        else if (channels == 3 && (lastPage_[0] & 7) == 3 && !calibrating)
            lineBytes = 3 * (2 + pixels * sampleBytes);
        else
            lineBytes = pixels * channels * sampleBytes;
    }
    const uint32_t p = static_cast<uint32_t>(pixels) + g.Pixels;
    const uint32_t b = static_cast<uint32_t>(lineBytes) + g.LineBytes;
    uint32_t n = static_cast<uint32_t>(lines) + g.Lines;
    if (b != 0 && uint64_t{n} * b > kAnnouncedBytesBound)
        n = static_cast<uint32_t>(kAnnouncedBytesBound / b);
    if (!calibrating) {
        scanLineBytes_ = b;
        scanLines_ = n;
        tagIndex_ = tagLine_ = tagPhase_ = 0;
    }
    reply.Data.assign(16, 0);
    PutBig32(reply.Data, 0, p);
    PutBig32(reply.Data, 4, b);
    PutBig32(reply.Data, 8, n);
}

SCANNER_LOOP uint8_t ScriptedScanner::NextTag()
{
    if (script_.Tags == kTagsScript) {
        const uint32_t length = std::clamp<uint32_t>(script_.TagScriptLength, 1, kTagSlots);
        return script_.TagScript[tagIndex_++ % length];
    }
    /* The colour sensor lines lie gap lines apart: the segments of line j
     * come red first, green gap lines later, blue twice as late. */
    const uint32_t gap = script_.TagGap;
    while (tagLine_ < scanLines_ + 2 * gap) {
        const uint32_t j = tagLine_, phase = tagPhase_;
        if (++tagPhase_ == 3) {
            tagPhase_ = 0;
            ++tagLine_;
        }
        if (phase == 0 && j < scanLines_)
            return 'R';
        if (phase == 1 && j >= gap && j - gap < scanLines_)
            return 'G';
        if (phase == 2 && j >= 2 * gap && j - 2 * gap < scanLines_)
            return 'B';
    }
    return 0;
}

SCANNER_LOOP void ScriptedScanner::AnswerImageData(const RecordedCommand &command, FakeReply &reply)
{
    uint32_t limit = kReadBytesBound;
    if (script_.ReadLimit != 0 && script_.ReadLimit < limit)
        limit = script_.ReadLimit;
    const uint32_t count = std::min(command.Length, limit);
    reply.Data.resize(count);
    /* A short pattern, then copies of it: cheap, and not the same on every
     * line of a usual line length. */
    const uint8_t salt = static_cast<uint8_t>(imageReads_++ * 29);
    const uint32_t pattern = std::min<uint32_t>(count, 251);
    for (uint32_t i = 0; i < pattern; ++i)
        reply.Data[i] = static_cast<uint8_t>(script_.Fill[i & 7] + (i >> 3) * 3 + salt);
    for (uint32_t done = pattern; done < count;) {
        const uint32_t step = std::min(done, count - done);
        std::memcpy(reply.Data.data() + done, reply.Data.data(), step);
        done += step;
    }
    const uint32_t segment = scanLineBytes_ / 3;
    if (script_.Tags != kTagsNone && !Calibrating() && segment > 0)
        for (uint32_t at = 0; at < count; at += segment)
            reply.Data[at] = NextTag();
}

void ScriptedScanner::ApplyFault(FakeReply &reply)
{
    const int faults = std::min<int>(script_.FaultCount, kFaultSlots);
    for (int i = 0; i < faults; ++i) {
        const Fault &f = script_.Faults[i];
        if (f.Command != commands_)
            continue;
        reply.Status = f.Status;
        const uint16_t status = static_cast<uint16_t>(f.Status);
        if (status == BUSLNK_CHECK_CONDITION) {
            reply.Sense = fake::Sense(f.Asc, f.Ascq, f.Information);
            reply.SenseStatus = f.SenseStatus; /* anything but good makes it -100 */
        } else if (status > 3 && status != 24) {
            PassedThrough.insert(static_cast<int16_t>(status));
        }
        if (reply.Data.size() > f.DataLimit)
            reply.Data.resize(f.DataLimit);
        return;
    }
}

/* --- Driver state as loaded -------------------------------------------- */

/* Every process-wide value the driver keeps, as it is when the library has
 * just been loaded, so each session replays the same way. A scan left
 * running by the previous session is ended first. */
void LoadFreshDriver(const SessionScript &script)
{
    EndTransfer();
    Settings = {};
    Settings.bfApplyInGamma = script.ApplyInGamma & 1;
    Settings.Image = static_cast<int8_t>(script.ImageSetting);
    for (int c = 0; c < 3; ++c)
        Settings.Factor[c] = script.Factor[c];
    Settings.Calibrate = static_cast<int8_t>(script.CalibrateSetting);
    ScanState = {};
    TransferState = {};
    TransferState.SetupPending = 1;
    LinePipeline = {};
    CalibrationState = {};
    CalibrationMarker = -2;
    HalftoneState = {0, nullptr, ScanState.ToneMap, {}, ThresholdLine, 0, {}, {}};
    ModelCode = 0;
    SelectedLens = 0;
    LensCount = 1;
    LampTimerMinutes = 15;
    LampTimerFlag = 0;
    DeviceParameters = {};
    LampStatus = {};
    LampClockTick = 0;
    LampClockMinutes = kLampClockUnset;
    SensorCount = 0;
    ResetLastSense();
}

uint32_t FakeTime = 0;
void NoSleep(uint32_t)
{
}
uint32_t FakeClock()
{
    return FakeTime += 1000;
}

/* --- The application ---------------------------------------------------- */

#define SCANDRV_RESULT_VALUE_(name, value, text) value,
const std::set<int16_t> kKnownResults = {SCANDRV_RESULTS(SCANDRV_RESULT_VALUE_)};
#undef SCANDRV_RESULT_VALUE_

class Application {
public:
    Application(const SessionScript &script, ScriptedScanner &scanner, SessionOutcome &outcome)
        : script_(script), scanner_(scanner), out_(outcome)
    {
    }
    void Run();

private:
    void Fail(const std::string &step, const std::string &what);
    /* The low 16 bits of dwResult; every value must be in the table or a
     * status the scanner's adapter ended a command with. */
    int16_t Result(const std::string &step, uint32_t dwResult);

    void Initialize();
    void Defaults();
    void Capability();
    void Start(int k, const std::string &step);
    void ReadImage(int k, const std::string &step);
    void Abort(const std::string &step);
    void PollPaper(const std::string &step);
    void LensAndLamps();
    void NullBlocks();

    const SessionScript &script_;
    ScriptedScanner &scanner_;
    SessionOutcome &out_;
    /* The scan the driver is delivering, as its start described it. */
    uint32_t lineBytes_ = 0;
    uint32_t linesLeft_ = 0;
    bool deliversBits_ = false;
    uint64_t work_ = 0;
};

void Application::Fail(const std::string &step, const std::string &what)
{
    out_.Failures.push_back(step + ": " + what);
}

int16_t Application::Result(const std::string &step, uint32_t dwResult)
{
    const int16_t code = static_cast<int16_t>(dwResult);
    if (!kKnownResults.count(code) && !scanner_.PassedThrough.count(code))
        Fail(step, "result " + std::to_string(code) + " is in no table");
    return code;
}

template <typename T> std::unique_ptr<T> ZeroBlock()
{
    std::unique_ptr<T> block(new T);
    std::memset(block.get(), 0, sizeof(T));
    return block;
}

void Application::Initialize()
{
    auto block = ZeroBlock<InitBlock>();
    vInitializeScanner(block.get());
    out_.InitResult = block->dwResult;
    Result("initialize", block->dwResult);
}

void Application::Defaults()
{
    auto block = ZeroBlock<ScanAttributeBlock>();
    block->wScanSource = script_.DefaultSource;
    vDefaultAttribute(block.get());
    Result("defaults", block->dwResult);
}

void Application::Capability()
{
    auto block = ZeroBlock<CapabilityBlock>();
    /* Each list exactly as long as documented, or none. */
    std::unique_ptr<int32_t[]> contrast, brightness;
    std::unique_ptr<uint32_t[]> adjust;
    std::unique_ptr<uint16_t[]> resolutions, patterns;
    if (script_.CapLists & 0x01)
        block->lpContrastList = (contrast = std::make_unique<int32_t[]>(256)).get();
    if (script_.CapLists & 0x02)
        block->lpBrightnessList = (brightness = std::make_unique<int32_t[]>(256)).get();
    if (script_.CapLists & 0x04)
        block->lpAdjustList = (adjust = std::make_unique<uint32_t[]>(256)).get();
    if (script_.CapLists & 0x08)
        block->lpResolutionList = (resolutions = std::make_unique<uint16_t[]>(150)).get();
    if (script_.CapLists & 0x10)
        block->lpPatternList = (patterns = std::make_unique<uint16_t[]>(12)).get();
    block->wSources = script_.CapSources;
    block->wFeatures = script_.CapFeatures;
    block->wDeviceSetting = script_.CapSetting;
    vScannerCapability(block.get());
    Result("capability", block->dwResult);
}

/* Bytes of one delivered line, as a caller works it out from the block. */
uint32_t DeliveredLineBytes(const ScanAttributeBlock &block)
{
    if (block.wBitsPerPixel == 1)
        return block.wWidth;
    return uint32_t{block.wWidth} * (block.wImageType == SD_IMAGE_COLOR ? 3 : 1) *
           (block.wBitsPerPixel > 8 ? 2 : 1);
}

void Application::Start(int k, const std::string &step)
{
    const ScanRequest &r = script_.Scan[k];
    auto block = ZeroBlock<ScanAttributeBlock>();
    block->wImageType = r.ImageType;
    block->wScanSource = r.ScanSource;
    block->wBitsPerPixel = r.BitsPerPixel;
    block->wHalftoneMode = r.HalftoneMode;
    block->wHalftonePattern = r.HalftonePattern;
    block->wPatternSize = r.PatternSize;
    block->wResolution = r.Resolution;
    block->wLeft = r.Left;
    block->wTop = r.Top;
    block->wRight = r.Right;
    block->wBottom = r.Bottom;
    block->wFlags = r.Flags;
    block->wGammaScale = r.GammaScale;
    for (int c = 0; c < 3; ++c) {
        block->lContrast[c] = r.Contrast[c];
        block->lBrightness[c] = r.Brightness[c];
        block->lAdjust[c] = r.Adjust[c];
    }

    /* The caller's memory, exactly as large as the block says it is, and
     * gone when the call returns: the driver may use it only during the
     * call. A pattern side beyond what any scanner takes is given as 64. */
    std::unique_ptr<uint8_t[]> pattern, gamma;
    std::unique_ptr<uint16_t[]> tones;
    if (r.Pointers & kGivePattern) {
        const uint32_t side = std::min<uint32_t>(r.PatternSize, 64);
        pattern.reset(new uint8_t[side * side]);
        for (uint32_t i = 0; i < side * side; ++i)
            pattern[i] = static_cast<uint8_t>(r.TableSeed * 37 + i * 11);
        block->lpPattern = pattern.get();
    }
    if (r.Pointers & kGiveToneLevels) {
        tones.reset(new uint16_t[9]);
        std::copy(std::begin(r.ToneLevels), std::end(r.ToneLevels), tones.get());
        block->lpToneLevels = tones.get();
    }
    if (r.Pointers & kGiveGammaTable) {
        uint32_t entries;
        switch (r.GammaScale) {
        case 4: entries = 1024; break;
        case 16: entries = 4096; break;
        case 128:
        case 256: entries = 65536; break;
        default: entries = 256; break;
        }
        const uint32_t width = static_cast<int16_t>(r.BitsPerPixel) <= 8 ? 1 : 2;
        const uint32_t bytes = entries * width * (r.ImageType == SD_IMAGE_COLOR ? 3 : 1);
        gamma.reset(new uint8_t[bytes]);
        for (uint32_t i = 0; i < bytes; ++i)
            gamma[i] = static_cast<uint8_t>(r.TableSeed + i / 3 + (i & 1) * 0x55);
        block->lpGammaTable = gamma.get();
    }

    vScannerStartScan(block.get());
    const int16_t code = Result(step, block->dwResult);
    out_.StartResult[k] = block->dwResult;
    if (code == SD_OK) {
        if (!ScanState.ScanActive)
            Fail(step, "started, yet no scan is running");
        lineBytes_ = DeliveredLineBytes(*block);
        deliversBits_ = block->wBitsPerPixel == 1;
        linesLeft_ = block->wLength;
        out_.LinesPromised[k] = block->wLength;
    }
}

void Application::ReadImage(int k, const std::string &step)
{
    const ScanRequest &r = script_.Scan[k];
    auto block = ZeroBlock<ImageDataBlock>();
    const int calls = std::min<int>(r.Calls, kRequestSlots);
    for (int i = 0; i < calls; ++i) {
        const std::string call = step + " call " + std::to_string(i);
        const bool noBuffer = r.Request[i] & kNullBuffer;
        uint32_t lines = r.Request[i] & ~kNullBuffer;
        /* Bits made by the driver are made from a grey line of a byte a pixel. */
        const uint64_t delivered = uint64_t{lineBytes_} * (deliversBits_ ? 8 : 1);
        const uint64_t weight = std::max<uint64_t>(delivered, scanner_.ScanLineBytes());
        if (weight != 0 && lines * weight > kCallLineBytesBound)
            lines = static_cast<uint32_t>(kCallLineBytesBound / weight);
        if (work_ + lines * weight > kSessionLineBytesBound)
            return;
        work_ += lines * weight;
        const uint64_t bytes = uint64_t{lines} * lineBytes_;

        std::unique_ptr<uint8_t[]> buffer;
        if (!noBuffer) {
            buffer.reset(new uint8_t[bytes]);
            std::memset(buffer.get(), kCanary, bytes);
        }
        const bool running = ScanState.ScanActive != 0;
        const bool endedEarly = running && ScanState.EndOfData != 0;
        block->lpImageBuffer = buffer.get();
        block->dwRequestLines = lines;
        vScannerGetImage(block.get());
        const int16_t code = Result(call, block->dwResult);
        const uint32_t returned = block->dwReturnLines, remain = block->dwRemainLines;
        const bool untouched =
            !buffer || std::all_of(buffer.get(), buffer.get() + bytes, [](uint8_t b) { return b == kCanary; });

        if (!running || noBuffer) {
            if (code != SD_ERR_NOT_SCANNING)
                Fail(call, "no scan or no buffer, yet result " + std::to_string(code));
            if (!untouched)
                Fail(call, "wrote into the buffer with no scan running");
            continue;
        }
        if (endedEarly) {
            if (code != SD_OK || returned != lines)
                Fail(call, "after the early end: result " + std::to_string(code) + ", " +
                               std::to_string(returned) + " of " + std::to_string(lines) + " lines");
            if (!untouched)
                Fail(call, "wrote lines after the scanner ended the image");
            continue;
        }
        if (code != SD_OK)
            continue; /* a READ failed; the scan stays as it was */
        if (returned > lines || returned > linesLeft_ || returned + remain != linesLeft_)
            Fail(call, "delivered " + std::to_string(returned) + " of " + std::to_string(lines) +
                           " asked with " + std::to_string(linesLeft_) + " left, and says " +
                           std::to_string(remain) + " remain");
        else if (returned < std::min(lines, linesLeft_) && !ScanState.EndOfData)
            Fail(call, "delivered " + std::to_string(returned) + " of " + std::to_string(lines) +
                           " lines with " + std::to_string(linesLeft_) +
                           " left, without the scanner ending the image");
        linesLeft_ -= std::min(returned, linesLeft_);
        out_.LinesDelivered[k] += returned;
        if (linesLeft_ == 0 && !ScanState.EndOfData) {
            out_.ScanCompleted[k] = true;
            if (ScanState.ScanActive)
                Fail(call, "the last line was delivered, yet the scan still runs");
        }
    }
}

void Application::Abort(const std::string &step)
{
    auto block = ZeroBlock<ParamBlock>();
    vScannerAbortScan(block.get());
    Result(step, block->dwResult);
    if (ScanState.ScanActive)
        Fail(step, "the scan still runs after the abort");
}

void Application::PollPaper(const std::string &step)
{
    const bool running = ScanState.ScanActive != 0;
    const int32_t word = vPaperReady();
    if (running && word != 200)
        Fail(step, "a scan runs, yet the sensor poll answered " + std::to_string(word));
}

void Application::LensAndLamps()
{
    if (script_.Order & kSelectLens) {
        auto lens = ZeroBlock<LensBlock>();
        lens->wLens = script_.Lens;
        vScannerMutiLens(lens.get());
        Result("lens", lens->dwResult);
    }
    if (script_.Order & kLampCalls) {
        auto lamp = ZeroBlock<LampBlock>();
        vGetLampStatus(lamp.get());
        Result("lamp status", lamp->dwResult);
        lamp->wLampState = script_.LampState;
        lamp->dwLampTimer = script_.LampTimer;
        vSetLampStatus(lamp.get());
        Result("lamp set", lamp->dwResult);
    }
}

/* Every export handed no block at all: nothing may happen but an early
 * return (the abort still ends a running scan). */
void Application::NullBlocks()
{
    vInitializeScanner(nullptr);
    vScannerCapability(nullptr);
    vDefaultAttribute(nullptr);
    vScannerStartScan(nullptr);
    vScannerGetImage(nullptr);
    vScannerMutiLens(nullptr);
    vGetLampStatus(nullptr);
    vSetLampStatus(nullptr);
    vScannerAbortScan(nullptr);
}

void Application::Run()
{
    if (script_.Order & kNullBlocks)
        NullBlocks();
    if (script_.Order & kStartBeforeInit)
        Start(0, "start before initialize");
    if (script_.Order & kImageBeforeStart)
        ReadImage(0, "image before start");
    Initialize();
    Defaults();
    Capability();
    if (script_.Order & kPaperPolls)
        PollPaper("sensor poll");
    Start(0, "first start");
    ReadImage(0, "first scan");
    if (script_.Order & kPaperPolls)
        PollPaper("sensor poll during the scan");
    if (!(script_.Order & kNoAbortBetween))
        Abort("abort");
    LensAndLamps();
    Start(1, "second start");
    ReadImage(1, "second scan");
    Abort("final abort");
    if (script_.Order & kAbortTwice)
        Abort("second abort");
}

} // namespace

SessionScript DecodeSession(const uint8_t *data, size_t size)
{
    SessionScript script;
    Reader reader(data, size);
    VisitSession(reader, script);
    return script;
}

std::vector<uint8_t> EncodeSession(const SessionScript &script)
{
    SessionScript copy = script;
    Writer writer;
    VisitSession(writer, copy);
    return writer.bytes;
}

SessionOutcome RunSession(const uint8_t *data, size_t size)
{
    SessionOutcome outcome;
    const SessionScript script = DecodeSession(data, size);
    LoadFreshDriver(script);
    fake::Reset();
    fake::SetDataOutLimit(kWindowListLength);
    ScriptedScanner scanner(script, outcome.Commands);
    fake::SetResponder([&scanner](const RecordedCommand &command) { return scanner.Answer(command); });
    SetSleepHook(NoSleep);
    SetClockHook(FakeClock);
    FakeTime = 0;
    StopFailingAllocations();
    const int baseline = LiveAllocations();

    Application application(script, scanner, outcome);
    application.Run();

    if (LiveAllocations() != baseline)
        outcome.Failures.push_back("after the final abort " + std::to_string(LiveAllocations() - baseline) +
                                   " driver allocations are still held");
    fake::Reset();
    SetSleepHook(nullptr);
    SetClockHook(nullptr);
    return outcome;
}

} // namespace fuzzsession
