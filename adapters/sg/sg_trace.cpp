/*
 * sg_trace.cpp - writing the adapter's trace lines (see sg_trace.h).
 */
#include "sg_trace.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>

bool OpenSgTrace(SgTrace &trace, const std::string &path, std::string &error)
{
    CloseSgTrace(trace);
    if (path == "-") {
        trace.File = stderr;
        trace.OwnsFile = false;
        return true;
    }
    FILE *file = std::fopen(path.c_str(), "w");
    if (file == nullptr) {
        error = "cannot write the trace file " + path + ": " + std::strerror(errno);
        return false;
    }
    trace.File = file;
    trace.OwnsFile = true;
    return true;
}

void CloseSgTrace(SgTrace &trace)
{
    if (trace.File != nullptr && trace.OwnsFile)
        std::fclose(trace.File);
    trace.File = nullptr;
    trace.OwnsFile = false;
}

void SgTraceLine(SgTrace &trace, const char *format, ...)
{
    if (trace.File == nullptr)
        return;
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(trace.File, format, arguments);
    va_end(arguments);
    std::fputc('\n', trace.File);
    std::fflush(trace.File);
}

void SgTraceData(SgTrace &trace, const char *label, const uint8_t *data, uint32_t count)
{
    if (trace.File == nullptr || data == nullptr || count == 0)
        return;
    uint32_t shown = count < trace.DataBytes ? count : trace.DataBytes;
    SgTraceLine(trace, "    %s %u bytes: %s%s", label, count, SgHex(data, shown).c_str(),
                shown < count ? " ..." : "");
}

std::string SgHex(const uint8_t *data, uint32_t count)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(count * 3);
    for (uint32_t i = 0; i < count; ++i) {
        if (i != 0)
            text += ' ';
        text += digits[data[i] >> 4];
        text += digits[data[i] & 0x0F];
    }
    return text;
}
