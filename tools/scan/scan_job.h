/*
 * scan_job.h - one scan from start to image file: the attribute block built
 * from the options and the device's defaults, vScannerStartScan, the read
 * loop with its progress bar, and the abort when something fails or the
 * user interrupts. Batches repeat it page by page.
 */
#ifndef SCAN_SCAN_JOB_H
#define SCAN_SCAN_JOB_H

#include "device.h"
#include "gamma_file.h"
#include "image_writer.h"
#include "loader.h"
#include "options.h"

#include <array>
#include <csignal>
#include <string>

/* Exit statuses of the command. */
enum ExitStatus { kExitOk = 0, kExitFailure = 1, kExitUsage = 2 };

/* The scan a set of options asks of a device, ready for vScannerStartScan. */
struct ScanPlan {
    ScanAttributeBlock Block{};
    GammaTable Gamma;          /* lpGammaTable points into it */
    std::array<uint16_t, 9> ToneLevels{}; /* shadow[3], midtone[3], highlight[3]: lpToneLevels */
    unsigned Channels = 1;
    unsigned Depth = 8;
    unsigned Resolution = 0;
};

/* Fills plan from the options and the source's defaults and limits; false
 * with a message when the options do not fit the device. */
bool PlanScan(const ScanOptions &options, const SourceInfo &info, ScanPlan &plan, std::string &error);

/* The resolution a preview scans at: the lowest the source offers from
 * 50 dpi up (its highest when it offers none that high). */
unsigned PreviewResolution(const SourceInfo &info);

/* The image the plan asks for, as the driver will size it (bilevel lines
 * too), for checks before the scan starts. */
ImageInfo PlannedImage(const ScanPlan &plan);

/* The image the started scan will deliver, from the block vScannerStartScan
 * wrote back. Bilevel lines are counted in bytes there; their pixel count
 * follows from the area and the resolution, as the driver computes it (the
 * caller checks that the byte count agrees). */
ImageInfo DeliveredImage(const ScanPlan &plan);

/* Set by SIGINT and SIGTERM (to the signal number) while a scan runs. */
extern volatile std::sig_atomic_t InterruptSignal;
void InstallInterruptHandlers();

/* Scans every page the options ask for into its file. Returns the exit
 * status, having reported any failure on standard error. */
int RunScans(const LoadedDriver &driver, const ScanOptions &options);

#endif
