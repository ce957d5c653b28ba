/* device_control_fixture.h - device pages and CDBs for the export tests. */
#ifndef SCANDRV_DEVICE_CONTROL_FIXTURE_H
#define SCANDRV_DEVICE_CONTROL_FIXTURE_H

#include "api/device_control.h"
#include "driver_fixture.h"
#include "scan/scan_state.h"

#include <string>
#include <vector>

namespace control_test {

using DeviceControlTest = DriverTest;

inline const std::string kInquiryCdb = "12 00 00 00 25 00";
inline const std::string kLampReadCdb = "28 00 81 00 00 00 00 00 09 00";
inline const std::string kLampSendCdb = "2A 00 81 00 00 00 00 00 09 00";
inline std::string ParameterReadCdb(uint8_t lens, uint8_t variant)
{
    return fake::Hex({0x28, 0x00, 0x82, 0x00, lens, variant, 0x00, 0x00, 0x28, 0x00});
}

/* The CDBs the driver sent, without its REQUEST SENSEs. */
inline FakeReply Reply(std::vector<uint8_t> data, uint32_t status = BUSLNK_GOOD)
{
    return FakeReply{status, std::move(data), {}, BUSLNK_GOOD};
}

/* Forgets what was sent and queues the scanner's answers. */
inline void Script(const std::vector<FakeReply> &replies)
{
    fake::Reset();
    for (const FakeReply &reply : replies)
        fake::Queue(reply);
}

inline std::vector<std::string> SentCdbs()
{
    std::vector<std::string> cdbs;
    for (const RecordedCommand &command : fake::CommandsWithoutSense())
        cdbs.push_back(fake::Hex(command.Cdb));
    return cdbs;
}

inline void Put16(std::vector<uint8_t> &bytes, size_t offset, uint16_t value)
{
    bytes[offset] = static_cast<uint8_t>(value >> 8);
    bytes[offset + 1] = static_cast<uint8_t>(value);
}

/* INQUIRY data of a SCSI-2 scanner with the given revision text and model. */
inline std::vector<uint8_t> InquiryData(const char *revision = "1.23", uint8_t model = 168)
{
    std::vector<uint8_t> data(kInquiryLength, 0);
    data[0] = 6;
    data[2] = 2;
    data[3] = 2;
    std::memcpy(&data[32], revision, 4);
    data[36] = model;
    return data;
}

/* A parameter page: the glass in pixels and lines at the base resolution,
 * one lens, bilevel maxima of twice the base resolution. */
inline std::vector<uint8_t> ParameterPage(uint16_t widthPixels = 5100, uint16_t lengthPixels = 7000,
                                          uint16_t baseResolution = 600)
{
    std::vector<uint8_t> page(kDeviceParameterPageLength, 0);
    Put16(page, 3, static_cast<uint16_t>(2 * baseResolution));
    Put16(page, 5, static_cast<uint16_t>(2 * baseResolution));
    Put16(page, 7, widthPixels);
    Put16(page, 9, lengthPixels);
    Put16(page, 11, baseResolution);
    page[27] = 1;
    return page;
}

/* A lamp status page with the bytes the lamp functions look at. */
inline std::vector<uint8_t> StatusPage(uint8_t control = 0, uint8_t reporting = 0, uint8_t minutes = 0,
                                       uint8_t options = 0)
{
    std::vector<uint8_t> page(kLampStatusPageLength, 0);
    page[0] = control;
    page[1] = reporting;
    page[4] = minutes;
    page[5] = options;
    return page;
}

/* Packed block fields cannot bind to the macros' references: copy them. */
template <class T> T Value(T field)
{
    return field;
}

} // namespace control_test

#endif
