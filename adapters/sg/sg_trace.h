/*
 * sg_trace.h - the optional trace of the SCSI generic adapter: every attach,
 * every command with its CDB and data phase, the status it ended with, the
 * kernel's host and driver status, and the sense of a check condition. One
 * line per event, flushed at once, so the trace survives a crash of the
 * application. Switched on by SCANDRV_SG_TRACE (a path, or "-" for standard
 * error).
 */
#ifndef SG_TRACE_H
#define SG_TRACE_H

#include <cstdint>
#include <cstdio>
#include <string>

struct SgTrace {
    FILE *File = nullptr;
    bool OwnsFile = false;   /* false for standard error */
    uint32_t DataBytes = 32; /* bytes of each data phase shown */
};

/* Starts tracing to path ("-": standard error). Returns false, with the
 * reason in error, when the file cannot be created. */
bool OpenSgTrace(SgTrace &trace, const std::string &path, std::string &error);
void CloseSgTrace(SgTrace &trace);
inline bool SgTracing(const SgTrace &trace) { return trace.File != nullptr; }

void SgTraceLine(SgTrace &trace, const char *format, ...) __attribute__((format(gnu_printf, 2, 3)));
/* "    label N bytes: xx xx ..." with at most DataBytes bytes shown. */
void SgTraceData(SgTrace &trace, const char *label, const uint8_t *data, uint32_t count);

/* Bytes as space-separated hexadecimal. */
std::string SgHex(const uint8_t *data, uint32_t count);

#endif
