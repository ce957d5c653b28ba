/*
 * progress.h - the progress bar on standard error: a bar and a percentage
 * redrawn in place while lines arrive, redrawn only when the shown value
 * changes so a slow terminal does not hold the scan up.
 */
#ifndef SCAN_PROGRESS_H
#define SCAN_PROGRESS_H

#include <cstdint>
#include <cstdio>
#include <string>

struct ProgressBar {
    FILE *Stream = nullptr;  /* null: no bar */
    std::string Label;
    uint32_t Total = 0;
    int Shown = -1;          /* the last tenth of a per cent drawn */
};

void BeginProgress(ProgressBar &bar, FILE *stream, const std::string &label, uint32_t total);
void UpdateProgress(ProgressBar &bar, uint32_t done);
/* Ends the bar's line; a bar that did not reach the end stays as it was. */
void EndProgress(ProgressBar &bar);

#endif
