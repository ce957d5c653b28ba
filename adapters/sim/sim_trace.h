/*
 * sim_trace.h - the optional trace of everything the host asks of the
 * virtual scanner: attach, every command with its CDB, each data phase (the
 * first bytes in hexadecimal and the count), the status it ended with, the
 * sense of a check condition, configuration changes and faults that fired.
 * One line per event, flushed at once, so a trace survives a crash of the
 * application that caused it.
 */
#ifndef SIM_TRACE_H
#define SIM_TRACE_H

#include <cstdint>
#include <cstdio>
#include <string>

struct SimTrace {
    FILE *File = nullptr;
    bool OwnsFile = false;    /* false for standard error */
    uint32_t DataBytes = 32;  /* bytes of each data phase shown */
    uint64_t Sequence = 0;    /* commands traced so far */
};

/* Starts tracing to a file ("-": standard error; "" or "off": stop). */
bool OpenTrace(SimTrace &trace, const std::string &path, std::string &error);
void CloseTrace(SimTrace &trace);
inline bool Tracing(const SimTrace &trace) { return trace.File != nullptr; }

void TraceLine(SimTrace &trace, const char *format, ...) __attribute__((format(gnu_printf, 2, 3)));
/* "label N bytes: xx xx ... " with at most DataBytes bytes shown. */
void TraceData(SimTrace &trace, const char *label, const uint8_t *data, uint32_t count);

/* Formats bytes as space-separated hexadecimal. */
std::string HexBytes(const uint8_t *data, uint32_t count);

#endif
