/*
 * sim_trace.cpp - writing the trace file.
 */
#include "sim_trace.h"

#include <cstdarg>

bool OpenTrace(SimTrace &trace, const std::string &path, std::string &error)
{
    CloseTrace(trace);
    if (path.empty() || path == "off")
        return true;
    if (path == "-") {
        trace.File = stderr;
        trace.OwnsFile = false;
        return true;
    }
    trace.File = std::fopen(path.c_str(), "a");
    if (trace.File == nullptr) {
        error = "cannot open trace file " + path;
        return false;
    }
    trace.OwnsFile = true;
    return true;
}

void CloseTrace(SimTrace &trace)
{
    if (trace.File != nullptr && trace.OwnsFile)
        std::fclose(trace.File);
    trace.File = nullptr;
    trace.OwnsFile = false;
}

void TraceLine(SimTrace &trace, const char *format, ...)
{
    if (trace.File == nullptr)
        return;
    std::va_list args;
    va_start(args, format);
    std::vfprintf(trace.File, format, args);
    va_end(args);
    std::fputc('\n', trace.File);
    std::fflush(trace.File);
}

std::string HexBytes(const uint8_t *data, uint32_t count)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(count * 3);
    for (uint32_t i = 0; i < count; ++i) {
        if (i > 0)
            text += ' ';
        text += digits[data[i] >> 4];
        text += digits[data[i] & 15];
    }
    return text;
}

void TraceData(SimTrace &trace, const char *label, const uint8_t *data, uint32_t count)
{
    if (trace.File == nullptr)
        return;
    uint32_t shown = count < trace.DataBytes ? count : trace.DataBytes;
    TraceLine(trace, "    %s %u bytes: %s%s", label, count, HexBytes(data, shown).c_str(),
              shown < count ? " ..." : "");
}
