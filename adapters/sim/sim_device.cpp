/*
 * sim_device.cpp - command dispatch and the device state behind it. Each
 * command is checked the way a SCSI target checks it (CDB length, data
 * phase against the transfer length, fields) before it takes effect; a
 * refusal is a check condition whose sense waits for REQUEST SENSE. Faults
 * configured by the application come first, then the command proper.
 */
#include "sim_device.h"

#include "sim_bytes.h"

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace {

constexpr SimSenseCode kNoSense{0x00, 0x00};
constexpr SimSenseCode kEndOfData{0x00, 0x05};
constexpr SimSenseCode kInvalidOpcode{0x20, 0x00};
constexpr SimSenseCode kInvalidCdbField{0x24, 0x00};
constexpr SimSenseCode kInvalidListField{0x26, 0x00};
constexpr SimSenseCode kListLengthError{0x1A, 0x00};
constexpr SimSenseCode kSequenceError{0x2C, 0x00};
constexpr SimSenseCode kCommandPhaseError{0x4A, 0x00};
constexpr SimSenseCode kDataPhaseError{0x4B, 0x00};
constexpr SimSenseCode kMediumNotPresent{0x3A, 0x00};
constexpr SimSenseCode kMediaLoadFailed{0x53, 0x00};

/* Sense byte 2 flags of an early end: end of medium, incorrect length. */
constexpr uint8_t kSenseEom = 0x40;
constexpr uint8_t kSenseIli = 0x20;

/* The data phases of one command as the adapter received them. */
struct DataPhases {
    uint8_t *In = nullptr;
    uint32_t InCount = 0;
    const uint8_t *Out = nullptr;
    uint32_t OutCount = 0;
    uint32_t Delivered = 0; /* bytes put into the data-in buffer */
};

void SetSense(SimDevice &device, uint8_t keyAndFlags, SimSenseCode code, uint32_t residue = 0,
              uint32_t delivered = 0)
{
    uint8_t *s = device.Sense;
    std::memset(s, 0, kSenseLength);
    s[0] = residue != 0 ? 0xF0 : 0x70; /* current error; valid when the information field is */
    s[2] = keyAndFlags;
    PutBig32(s + 3, residue);
    s[7] = kSenseLength - 8;
    PutBig32(s + 8, delivered); /* bytes delivered before the data ended */
    s[12] = code.Asc;
    s[13] = code.Ascq;
}

uint32_t CheckCondition(SimDevice &device, SimSenseCode code)
{
    SetSense(device, SenseKeyFor(code.Asc), code);
    return BUSLNK_CHECK_CONDITION;
}

void SetLampsOn(SimDevice &device, uint8_t on, uint64_t now)
{
    SimLamps &lamps = device.Lamps;
    if (lamps.On == 0 && on != 0)
        lamps.OnSinceMs = now;
    lamps.On = on;
}

/* The lamp-off timer: lamps left unused for its minutes go out. */
void RunLampTimer(SimDevice &device, uint64_t now)
{
    SimLamps &lamps = device.Lamps;
    if (lamps.On != 0 && lamps.TimerMinutes != 0 && now - lamps.LastUseMs >= lamps.TimerMinutes * 60000ull)
        lamps.On = 0;
}

bool TablesHeld(const SimDevice &device) { return device.OffsetsHeld && device.GainsHeld; }

/* --- the commands ------------------------------------------------------ */

uint32_t DoRequestSense(SimDevice &device, const uint8_t *cdb, DataPhases &data)
{
    uint32_t n = std::min<uint32_t>(cdb[4], kSenseLength);
    std::memcpy(data.In, device.Sense, n);
    data.Delivered = n;
    SetSense(device, 0, kNoSense);
    return BUSLNK_GOOD;
}

uint32_t DoInquiry(SimDevice &device, const uint8_t *cdb, DataPhases &data)
{
    uint8_t inquiry[kSimInquiryLength];
    BuildInquiryData(*device.Model, inquiry);
    uint32_t n = std::min<uint32_t>(cdb[4], kSimInquiryLength);
    std::memcpy(data.In, inquiry, n);
    data.Delivered = n;
    return BUSLNK_GOOD;
}

/* The image ended or was abandoned: the feeder page in the path leaves it. */
void EjectPage(SimDevice &device)
{
    SimFeeder &feeder = device.Feeder;
    if (feeder.InPath != 0)
        TraceLine(device.Trace, "    feeder page %u out%s", feeder.InPath, feeder.Jammed ? " (jammed)" : "");
    feeder.InPath = 0;
    feeder.Jammed = false;
}

/* A feeder image starts: the top page of the stack goes into the path.
 * False when the tray is empty. */
bool TakePage(SimDevice &device)
{
    SimFeeder &feeder = device.Feeder;
    if (feeder.Stack == 0)
        return false;
    --feeder.Stack;
    feeder.InPath = feeder.NextPage++;
    TraceLine(device.Trace, "    feeder page %u in, %u left", feeder.InPath, feeder.Stack);
    return true;
}

/* Whether a READ of length bytes of the running feeder image reaches the
 * point where the configured jam stops the page. */
bool ReachesJam(const SimDevice &device, uint32_t length)
{
    const SimFeeder &feeder = device.Feeder;
    const SimFaults &faults = device.Faults;
    if (feeder.Jammed)
        return true;
    if (feeder.InPath == 0 || feeder.InPath != faults.JamPage)
        return false;
    const SimGeometry &g = device.Scan.Geometry;
    uint64_t lines = faults.JamLines != 0 ? faults.JamLines : g.Lines / 2;
    return device.Scan.Position + length > lines * g.LineBytes;
}

uint32_t DoSetWindow(SimDevice &device, DataPhases &data)
{
    if (data.OutCount != kWindowListLength)
        return CheckCondition(device, kListLengthError);
    SimWindow window;
    SimSenseCode refusal = ParseWindow(*device.Model, data.Out, window);
    if (!(refusal == kNoSense))
        return CheckCondition(device, refusal);
    device.Window = window;
    device.HasWindow = true;
    device.Scan.Started = false;
    EjectPage(device);
    return BUSLNK_GOOD;
}

uint32_t DoReadImage(SimDevice &device, DataPhases &data, uint64_t now)
{
    /* A READ of nothing ends the image; the next READ starts it afresh. */
    if (data.InCount == 0) {
        device.Scan.Started = false;
        EjectPage(device);
        return BUSLNK_GOOD;
    }
    if (!device.HasWindow)
        return CheckCondition(device, kSequenceError);
    /* A feeder image pulls the top page of the stack in; calibration reads
     * the reference strip and leaves the stack alone. */
    bool feederImage = device.Window.Source == kSourceFeeder && !device.Window.Raw;
    if (!device.Scan.Started && feederImage && !TakePage(device))
        return CheckCondition(device, kMediumNotPresent);
    SimLamps &lamps = device.Lamps;
    if (lamps.On == 0)
        SetLampsOn(device, 0x01, now);
    lamps.LastUseMs = now;
    if (!device.Scan.Started) {
        const SimWindow &window = device.Window;
        SimScanInputs inputs;
        inputs.Model = device.Model;
        inputs.Sensor = &device.Sensors[window.Lens];
        inputs.Document = &device.Document;
        inputs.FeederPage = feederImage ? device.Feeder.InPath : 0;
        inputs.Shading = &device.Shading;
        inputs.Gamma = device.Gamma.data();
        inputs.Pattern = device.PatternSide ? device.Pattern : nullptr;
        inputs.PatternSide = device.PatternSide;
        inputs.Dark = lamps.Dark;
        inputs.Noise = device.Settings.Noise;
        inputs.NoiseKey = SimHash(device.Settings.Seed, ++device.Passes, 0x5CA7, 0);
        std::memcpy(inputs.SegmentOrder, device.Settings.SegmentOrder, 3);
        if (device.Faults.EarlyEnd && !window.Raw)
            inputs.ByteLimit = static_cast<uint64_t>(device.Faults.EarlyLines) *
                                   WindowGeometry(*device.Model, window).LineBytes +
                               device.Faults.EarlyBytes;
        StartScan(device.Scan, window, inputs);
    }
    if (feederImage && ReachesJam(device, data.InCount)) {
        device.Feeder.Jammed = true;
        return CheckCondition(device, kMediaLoadFailed);
    }
    data.Delivered = ReadScan(device.Scan, data.In, data.InCount);
    if (device.Scan.Position == device.Scan.Total)
        EjectPage(device);
    if (data.Delivered < data.InCount) {
        SetSense(device, kSenseEom | kSenseIli, kEndOfData, data.InCount - data.Delivered, data.Delivered);
        TraceLine(device.Trace, "    image ended after %" PRIu64 " bytes", device.Scan.Position);
        return BUSLNK_CHECK_CONDITION;
    }
    return BUSLNK_GOOD;
}

uint32_t DoReadGeometry(SimDevice &device, DataPhases &data)
{
    if (!device.HasWindow)
        return CheckCondition(device, kSequenceError);
    SimGeometry g = WindowGeometry(*device.Model, device.Window);
    uint8_t page[kGeometryPageLength] = {};
    PutBig32(page + 0, g.Pixels);
    PutBig32(page + 4, g.LineBytes);
    PutBig32(page + 8, g.Lines);
    data.Delivered = std::min<uint32_t>(data.InCount, kGeometryPageLength);
    std::memcpy(data.In, page, data.Delivered);
    return BUSLNK_GOOD;
}

uint32_t DoReadParameters(SimDevice &device, const uint8_t *cdb, DataPhases &data)
{
    unsigned lens = cdb[4], source = cdb[5];
    if (!SourceInstalled(*device.Model, lens, source))
        return CheckCondition(device, kInvalidCdbField);
    uint8_t page[kSimParameterPageLength];
    BuildParameterPage(*device.Model, lens, source, page);
    data.Delivered = std::min<uint32_t>(data.InCount, kSimParameterPageLength);
    std::memcpy(data.In, page, data.Delivered);
    return BUSLNK_GOOD;
}

uint32_t DoReadLamp(SimDevice &device, DataPhases &data)
{
    if (data.InCount != kLampPageLength)
        return CheckCondition(device, kInvalidCdbField);
    BuildLampPage(device, data.In);
    data.Delivered = kLampPageLength;
    return BUSLNK_GOOD;
}

uint32_t DoSendLamp(SimDevice &device, DataPhases &data, uint64_t now)
{
    if (data.OutCount != kLampPageLength)
        return CheckCondition(device, kInvalidCdbField);
    const uint8_t *page = data.Out;
    const SimModel &model = *device.Model;
    SimLamps &lamps = device.Lamps;
    SetLampsOn(device, page[0] & 0x03, now);
    lamps.LastUseMs = now;
    lamps.ControlBits = page[0] & 0x88;
    lamps.Dark = false; /* the page ends any calibration lighting */
    lamps.ReportOnTime = model.ReportsLampOnTime && (page[1] & 0x10);
    if (model.HasDeviceSetting && (page[2] & 0x80)) {
        lamps.SettingValid = true;
        lamps.Setting = page[2] & 0x3F;
    }
    /* With byte 1 bit 4 set byte 4 carries the lamp-on time back, not a timer. */
    if (!(page[1] & 0x10)) {
        lamps.TimerMinutes = page[4] & 0x7F;
        lamps.TimerFlag = page[4] & 0x80;
    }
    /* A zero in byte 7 acknowledges the pending event. */
    if (page[7] == 0)
        lamps.PendingEvent = 0;
    return BUSLNK_GOOD;
}

uint32_t DoSendLampControl(SimDevice &device, DataPhases &data)
{
    device.Lamps.Dark = data.Out[0] & 0x04;
    device.Lamps.ControlBits = data.Out[0] & 0x88;
    return BUSLNK_GOOD;
}

/* The rows a shading or gamma SEND addresses by its channel code (qualifier
 * bits 5-6); an empty list when the code is not one the model takes. Model
 * 168 takes three-channel shading tables one channel per SEND, numbered in
 * the same bits. */
std::vector<unsigned> AddressedRows(const SimModel &model, uint8_t code, bool shading)
{
    if (code == 0x60)
        return model.Color ? std::vector<unsigned>{0, 1, 2} : std::vector<unsigned>{};
    if (code == 0x20)
        return {1};
    if (shading && model.Code == 168 && model.Color)
        return {code == 0x00 ? 0u : 2u};
    return {};
}

uint32_t DoSendShading(SimDevice &device, const uint8_t *cdb, DataPhases &data)
{
    uint8_t qualifier = cdb[5];
    if (!(qualifier & 0x01) || (qualifier & 0x9C))
        return CheckCondition(device, kInvalidCdbField);
    std::vector<unsigned> rows = AddressedRows(*device.Model, qualifier & 0x60, true);
    if (rows.empty())
        return CheckCondition(device, kInvalidCdbField);
    uint32_t perRow = 2 * static_cast<uint32_t>(rows.size());
    uint32_t sites = data.OutCount / perRow;
    if (data.OutCount % perRow != 0 || sites == 0 || sites > device.Sensors[device.Window.Lens].Pixels)
        return CheckCondition(device, kListLengthError);
    bool offsets = qualifier & 0x02;
    const uint8_t *words = data.Out;
    for (unsigned row : rows) {
        std::vector<uint16_t> &table = offsets ? device.Shading.Offset[row] : device.Shading.Gain[row];
        table.resize(sites);
        for (uint32_t s = 0; s < sites; ++s, words += 2)
            table[s] = GetLittle16(words);
    }
    (offsets ? device.OffsetsHeld : device.GainsHeld) = true;
    return BUSLNK_GOOD;
}

uint32_t DoSendGamma(SimDevice &device, const uint8_t *cdb, DataPhases &data)
{
    uint8_t qualifier = cdb[5];
    if (qualifier & 0x80)
        return CheckCondition(device, kInvalidCdbField);
    std::vector<unsigned> rows = AddressedRows(*device.Model, qualifier & 0x60, false);
    if (rows.empty())
        return CheckCondition(device, kInvalidCdbField);
    /* Bit 0: two-byte entries, low byte first; bits 1-4: the number of a
     * 64 KiB piece, counted from 1 (0: the data starts at the first entry). */
    uint32_t width = (qualifier & 0x01) ? 2 : 1;
    uint32_t piece = (qualifier >> 1) & 0x0F;
    uint64_t start = piece == 0 ? 0 : (piece - 1) * 65536ull;
    uint64_t tableBytes = 65536ull * width;
    if (data.OutCount % width != 0 || start % width != 0 || start + data.OutCount > tableBytes * rows.size())
        return CheckCondition(device, kListLengthError);
    for (uint64_t b = 0; b < data.OutCount; b += width) {
        uint64_t entry = (start + b) / width;
        unsigned row = rows[entry / 65536];
        uint16_t value = width == 2 ? GetLittle16(data.Out + b) : static_cast<uint16_t>(data.Out[b] * 257);
        device.Gamma[row][entry % 65536] = value;
    }
    return BUSLNK_GOOD;
}

uint32_t DoSendHalftone(SimDevice &device, const uint8_t *cdb, DataPhases &data)
{
    if (cdb[5] != 0x80)
        return CheckCondition(device, kInvalidCdbField);
    uint32_t side = data.Out[0];
    if (side == 0 || side > 16)
        return CheckCondition(device, kInvalidListField);
    if (data.OutCount != side * side + 1)
        return CheckCondition(device, kListLengthError);
    std::memcpy(device.Pattern, data.Out + 1, side * side);
    device.PatternSide = static_cast<uint8_t>(side);
    return BUSLNK_GOOD;
}

/* Transfer lengths a command's CDB announces, per direction. */
void ExpectedPhases(SimCommandKind kind, const uint8_t *cdb, uint32_t &in, uint32_t &out)
{
    in = out = 0;
    switch (kind) {
    case SimCommandKind::RequestSense:
    case SimCommandKind::Inquiry: in = cdb[4]; break;
    case SimCommandKind::SetWindow: out = GetBig24(cdb + 6); break;
    case SimCommandKind::TestUnitReady:
    case SimCommandKind::Other: break;
    default: (cdb[0] == 0x28 ? in : out) = GetBig24(cdb + 6); break;
    }
}

const char *StatusName(uint32_t status)
{
    switch (status) {
    case BUSLNK_GOOD: return "GOOD";
    case BUSLNK_CHECK_CONDITION: return "CHECK CONDITION";
    case BUSLNK_FAILURE: return "FAILURE";
    case BUSLNK_BUSY: return "BUSY";
    case BUSLNK_ADAPTER_FAILURE: return "ADAPTER FAILURE";
    default: return "STATUS";
    }
}

uint32_t Dispatch(SimDevice &device, SimCommandKind kind, const uint8_t *cdb, DataPhases &data, uint64_t now)
{
    switch (kind) {
    case SimCommandKind::TestUnitReady: return BUSLNK_GOOD;
    case SimCommandKind::RequestSense: return DoRequestSense(device, cdb, data);
    case SimCommandKind::Inquiry: return DoInquiry(device, cdb, data);
    case SimCommandKind::SetWindow: return DoSetWindow(device, data);
    case SimCommandKind::ReadImage: return DoReadImage(device, data, now);
    case SimCommandKind::ReadGeometry: return DoReadGeometry(device, data);
    case SimCommandKind::ReadLamp: return DoReadLamp(device, data);
    case SimCommandKind::SendLamp: return DoSendLamp(device, data, now);
    case SimCommandKind::SendLampControl: return DoSendLampControl(device, data);
    case SimCommandKind::ReadParameters: return DoReadParameters(device, cdb, data);
    case SimCommandKind::SendShading: return DoSendShading(device, cdb, data);
    case SimCommandKind::SendGamma: return DoSendGamma(device, cdb, data);
    case SimCommandKind::SendHalftone: return DoSendHalftone(device, cdb, data);
    case SimCommandKind::Other: break;
    }
    bool known = cdb[0] == 0x00 || cdb[0] == 0x03 || cdb[0] == 0x12 || cdb[0] == 0x24 || cdb[0] == 0x28 ||
                 cdb[0] == 0x2A;
    return CheckCondition(device, known ? kInvalidCdbField : kInvalidOpcode);
}

} // namespace

uint64_t DeviceClockMs(const SimDevice &device)
{
    if (device.Settings.ManualClock)
        return device.ClockOffsetMs;
    auto elapsed = std::chrono::steady_clock::now() - device.Epoch;
    return device.ClockOffsetMs +
           static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

bool HasFeeder(const SimModel &model)
{
    return SourceInstalled(model, 0, kSourceFeeder);
}

void BuildLampPage(SimDevice &device, uint8_t page[kLampPageLength])
{
    const SimModel &model = *device.Model;
    SimLamps &lamps = device.Lamps;
    uint64_t now = DeviceClockMs(device);
    RunLampTimer(device, now);
    std::memset(page, 0, kLampPageLength);
    page[0] = static_cast<uint8_t>(lamps.On | (lamps.Dark ? 0x04 : 0) | lamps.ControlBits |
                                   (TablesHeld(device) ? 0x20 : 0));
    page[1] = lamps.ReportOnTime ? 0x10 : 0x00;
    /* The document sensor sits in the feeder's tray on models that have one. */
    bool document = HasFeeder(model) ? device.Feeder.Stack != 0 : device.Settings.PaperPresent;
    page[2] = static_cast<uint8_t>((document ? 0x40 : 0) |
                                   (lamps.SettingValid ? 0x80 | lamps.Setting : 0));
    uint32_t minutes = lamps.TimerMinutes;
    if (lamps.ReportOnTime)
        minutes = lamps.On ? static_cast<uint32_t>(std::min<uint64_t>((now - lamps.OnSinceMs) / 60000, 127)) : 0;
    page[4] = static_cast<uint8_t>(minutes | (lamps.TimerFlag ? 0x80 : 0));
    page[5] = model.Options;
    page[6] = TablesHeld(device) ? 0x01 : 0x00;
    page[7] = lamps.PendingEvent;
}

void PowerOn(SimDevice &device, const SimModel *model)
{
    if (device.Settings.ForcedModel != nullptr)
        model = device.Settings.ForcedModel;
    if (model == nullptr)
        model = SimModelAt(0);
    device.Model = model;
    device.Present = true;
    for (unsigned lens = 0; lens < 2; ++lens) {
        uint32_t pixels = lens < model->LensCount ? SensorPixels(*model, lens) : 0;
        BuildSensor(device.Sensors[lens], pixels, device.Settings.Sensor, device.Settings.Seed + lens);
    }
    device.Shading = SimShading();
    device.OffsetsHeld = device.GainsHeld = false;
    device.Gamma.resize(3);
    for (SimGammaTable &table : device.Gamma)
        for (uint32_t i = 0; i < 65536; ++i)
            table[i] = static_cast<uint16_t>(i);
    device.PatternSide = 0;
    device.HasWindow = false;
    device.Scan = SimScan();
    device.Feeder.InPath = 0;
    device.Feeder.Jammed = false;
    device.Passes = 0;
    uint64_t now = DeviceClockMs(device);
    device.Lamps = SimLamps();
    device.Lamps.OnSinceMs = device.Lamps.LastUseMs = now;
    if (HasFeeder(*model) && device.Feeder.Stack != 0)
        device.Lamps.PendingEvent = kEventPaperLoaded;
    SetSense(device, 0, kNoSense);
}

uint32_t SimAttach(SimDevice &device, const AttachRecord &attach)
{
    const SimModel *model = device.Settings.ForcedModel;
    if (model == nullptr)
        model = SimModelAt(attach.wAttachParam1);
    TraceLine(device.Trace, "attach kind=%u param1=%u param2=%u version=%u -> %s", attach.wKind,
              attach.wAttachParam1, attach.wAttachParam2, attach.wVersion, model ? model->Name : "no device");
    if (model == nullptr) {
        device.Present = false;
        return BUSLNK_FAILURE;
    }
    if (model != device.Model || !device.Present)
        PowerOn(device, model);
    return BUSLNK_GOOD;
}

uint32_t SimExecute(SimDevice &device, const CommandRecord &command, TransferRecord *dataIn,
                    TransferRecord *dataOut)
{
    if (device.Model == nullptr)
        PowerOn(device, nullptr);
    const uint8_t *cdb = command.lpCdb;
    uint32_t cdbLength = cdb != nullptr ? command.wCdbLength : 0;
    SimCommandKind kind = ClassifyCommand(cdb, cdbLength);
    uint64_t sequence = ++device.Trace.Sequence;

    DataPhases data;
    if (dataIn != nullptr) {
        data.In = static_cast<uint8_t *>(dataIn->lpBuffer);
        data.InCount = dataIn->dwCount;
    }
    if (dataOut != nullptr) {
        data.Out = static_cast<const uint8_t *>(dataOut->lpBuffer);
        data.OutCount = dataOut->dwCount;
    }
    if (Tracing(device.Trace)) {
        TraceLine(device.Trace, "#%" PRIu64 " %s cdb %s timeout=%u in=%u out=%u", sequence, CommandKindName(kind),
                  HexBytes(cdb, cdbLength).c_str(), command.wTimeout, data.InCount, data.OutCount);
        if (data.OutCount != 0 && data.Out != nullptr)
            TraceData(device.Trace, "out", data.Out, data.OutCount);
    }

    uint32_t status;
    uint64_t now = DeviceClockMs(device);
    SimFaultAction fault = device.Present ? NextFaultAction(device.Faults, kind) : SimFaultAction();
    if (!device.Present) {
        status = BUSLNK_FAILURE;
    } else if (fault.Type == kFaultBusy) {
        status = BUSLNK_BUSY;
    } else if (fault.Type == kFaultStatus) {
        status = fault.AdapterStatus;
    } else if (fault.Type == kFaultCheck) {
        SetSense(device, fault.Key, {fault.Asc, fault.Ascq});
        status = BUSLNK_CHECK_CONDITION;
    } else if (cdbLength == 0 || cdbLength != (cdb[0] < 0x20 ? 6u : 10u)) {
        status = CheckCondition(device, kCommandPhaseError);
    } else {
        uint32_t expectIn, expectOut;
        ExpectedPhases(kind, cdb, expectIn, expectOut);
        RunLampTimer(device, now);
        /* Commands the device does not know are refused for what they are,
         * whatever their data phases. */
        if (kind != SimCommandKind::Other && (data.InCount != expectIn || data.OutCount != expectOut || (data.InCount != 0 && data.In == nullptr) ||
            (data.OutCount != 0 && data.Out == nullptr)))
            status = CheckCondition(device, kDataPhaseError);
        else
            status = Dispatch(device, kind, cdb, data, now);
    }

    if (Tracing(device.Trace)) {
        if (fault.Type != kNoFault)
            TraceLine(device.Trace, "    fault fired");
        if (data.Delivered != 0)
            TraceData(device.Trace, "in", data.In, data.Delivered);
        if (status == BUSLNK_CHECK_CONDITION)
            TraceLine(device.Trace, "    -> CHECK CONDITION key %x sense %02x/%02x delivered %u",
                      device.Sense[2] & 0x0F, device.Sense[12], device.Sense[13], GetBig32(device.Sense + 8));
        else
            TraceLine(device.Trace, "    -> %s (%u)", StatusName(status), status);
    }
    return status;
}

/* --- configuration ------------------------------------------------------ */

namespace {

bool ParseSwitch(const char *value, bool &on)
{
    static const char *const yes[] = {"on", "1", "true", "yes"};
    static const char *const no[] = {"off", "0", "false", "no"};
    for (const char *word : yes)
        if (strcasecmp(value, word) == 0)
            return on = true;
    for (const char *word : no)
        if (strcasecmp(value, word) == 0) {
            on = false;
            return true;
        }
    return false;
}

bool ParseUnsigned(const char *value, uint32_t max, uint32_t &out)
{
    if (*value < '0' || *value > '9')
        return false;
    char *end = nullptr;
    unsigned long long v = std::strtoull(value, &end, 10);
    if (*end != 0 || v > max)
        return false;
    out = static_cast<uint32_t>(v);
    return true;
}

void RebuildSensors(SimDevice &device)
{
    for (unsigned lens = 0; lens < 2; ++lens)
        BuildSensor(device.Sensors[lens], device.Sensors[lens].Pixels, device.Settings.Sensor,
                    device.Settings.Seed + lens);
}

} // namespace

int SimConfigureDevice(SimDevice &device, const char *key, const char *value, std::string &error)
{
    if (key == nullptr)
        return -1;
    if (value == nullptr)
        value = "";
    if (device.Model == nullptr)
        PowerOn(device, nullptr);
    std::string k = key;
    SimSettings &settings = device.Settings;
    bool on = false;
    uint32_t number = 0;
    int rc = 0;

    if (k == "model") {
        if (strcasecmp(value, "attach") == 0) {
            settings.ForcedModel = nullptr;
        } else {
            const SimModel *model = FindSimModel(value);
            if (model == nullptr) {
                error = std::string("no model ") + value;
                rc = -2;
            } else {
                settings.ForcedModel = model;
                PowerOn(device, model);
            }
        }
    } else if (k == "document") {
        if (*value == 0 || strcasecmp(value, "chart") == 0)
            device.Document = SimDocument();
        else if (!LoadDocumentImage(device.Document, value, settings.DocumentDpi, error))
            rc = -2;
    } else if (k == "document_dpi") {
        if (ParseUnsigned(value, 100000, number) && number > 0) {
            settings.DocumentDpi = number;
            device.Document.Dpi = number;
        } else {
            rc = -2;
        }
    } else if (k == "noise") {
        if (ParseSwitch(value, on))
            settings.Noise = on;
        else
            rc = -2;
    } else if (k == "sensor") {
        if (strcasecmp(value, "streaks") == 0)
            settings.Sensor = SimSensorKind::Streaks;
        else if (strcasecmp(value, "flat") == 0)
            settings.Sensor = SimSensorKind::Flat;
        else if (strcasecmp(value, "ideal") == 0)
            settings.Sensor = SimSensorKind::Ideal;
        else
            rc = -2;
        if (rc == 0)
            RebuildSensors(device);
    } else if (k == "seed") {
        if (ParseUnsigned(value, UINT32_MAX, number)) {
            settings.Seed = number;
            RebuildSensors(device);
        } else {
            rc = -2;
        }
    } else if (k == "segment_order") {
        std::string order = value;
        for (char &c : order)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        std::string sorted = order;
        std::sort(sorted.begin(), sorted.end());
        if (sorted == "BGR")
            std::memcpy(settings.SegmentOrder, order.data(), 3);
        else
            rc = -2;
    } else if (k == "paper") {
        if (strcasecmp(value, "present") == 0 || strcasecmp(value, "absent") == 0)
            settings.PaperPresent = strcasecmp(value, "present") == 0;
        else if (ParseSwitch(value, on))
            settings.PaperPresent = on;
        else
            rc = -2;
    } else if (k == "feeder_pages") {
        /* A fresh stack, numbered from 1; loading paper raises event 1. */
        if (ParseUnsigned(value, 9999, number)) {
            device.Feeder.Stack = number;
            device.Feeder.NextPage = 1;
            if (number != 0 && HasFeeder(*device.Model))
                device.Lamps.PendingEvent = kEventPaperLoaded;
        } else {
            rc = -2;
        }
    } else if (k == "event") {
        if (ParseUnsigned(value, 255, number))
            device.Lamps.PendingEvent = static_cast<uint8_t>(number);
        else
            rc = -2;
    } else if (k == "clock") {
        bool manual = strcasecmp(value, "manual") == 0;
        if (manual || strcasecmp(value, "real") == 0) {
            /* Keep the time where it is when switching. */
            uint64_t now = DeviceClockMs(device);
            settings.ManualClock = manual;
            device.Epoch = std::chrono::steady_clock::now();
            device.ClockOffsetMs = now;
        } else {
            rc = -2;
        }
    } else if (k == "advance") {
        if (ParseUnsigned(value, UINT32_MAX, number))
            device.ClockOffsetMs += number * 1000ull;
        else
            rc = -2;
    } else if (k == "faults") {
        if (!SetFaultRules(device.Faults, value, error))
            rc = -2;
    } else if (k == "fault") {
        if (!AddFaultRule(device.Faults, value, error))
            rc = -2;
    } else if (k == "trace") {
        if (!OpenTrace(device.Trace, value, error))
            rc = -2;
    } else if (k == "trace_bytes") {
        if (ParseUnsigned(value, 1u << 24, number))
            device.Trace.DataBytes = number;
        else
            rc = -2;
    } else if (k == "reset") {
        PowerOn(device, device.Model);
    } else {
        error = "unknown key " + k;
        rc = -1;
    }
    if (rc == -2 && error.empty())
        error = std::string("bad value for ") + k + ": " + value;
    TraceLine(device.Trace, "configure %s=%s%s%s", key, value, rc == 0 ? "" : " refused: ",
              rc == 0 ? "" : error.c_str());
    return rc;
}

int SimConfigureFromEnvironment(SimDevice &device, const char *(*lookup)(const char *name),
                                void (*report)(const char *message))
{
    /* Trace first so the rest is traced; the resolution before the document. */
    static const char *const keys[] = {"trace_bytes", "trace", "model", "sensor", "seed", "noise",
                                       "document_dpi", "document", "segment_order", "paper", "feeder_pages",
                                       "clock", "faults"};
    int refused = 0;
    for (const char *key : keys) {
        std::string name = "SCANDRV_SIM_";
        for (const char *p = key; *p; ++p)
            name += static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
        const char *value = lookup(name.c_str());
        if (value == nullptr)
            continue;
        std::string error;
        if (SimConfigureDevice(device, key, value, error) != 0) {
            ++refused;
            if (report != nullptr)
                report((name + ": " + error).c_str());
        }
    }
    return refused;
}
