/*
 * scan_job.cpp - planning a scan, running it and writing its image.
 *
 * The read loop asks for about a megabyte of lines per vScannerGetImage
 * (far below the 16 MiB a single READ may carry), hands whatever arrived to
 * the writer, and looks at the interrupt flag between calls. Every way out
 * after a successful start goes through vScannerAbortScan, which is harmless
 * when the scan has already ended and needed when the scanner ended the
 * image early (the driver then keeps the scan open until it is aborted).
 */
#include "scan_job.h"

#include "messages.h"
#include "output_file.h"
#include "progress.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

volatile std::sig_atomic_t InterruptSignal = 0;

namespace {

constexpr size_t kBytesPerRead = 1 << 20;
/* Calls in a row that deliver nothing before the scan is given up. */
constexpr int kMaxEmptyCalls = 100;
/* How far past the glass an area may reach and be trimmed to it: the
 * rounding of millimetres to 1/1000 inch, with room to spare. */
constexpr uint32_t kAreaToleranceMils = 20;

/* What one page came to. */
enum class PageOutcome { Written, Failed, NoDocument, Interrupted };

void Report(const std::string &message)
{
    std::fprintf(stderr, "scan: %s\n", message.c_str());
}

/* One edge and extent of the area, in 1/1000 inch, checked against the
 * glass. */
bool PlaceSpan(const char *startName, const char *extentName, const std::optional<double> &startMm,
               const std::optional<double> &extentMm, uint32_t glass, uint16_t &first, uint16_t &last,
               std::string &error)
{
    uint32_t start = startMm ? MillimetresToMils(*startMm) : 0;
    if (start >= glass) {
        char text[160];
        std::snprintf(text, sizeof text, "%s %.1f mm starts beyond the glass, which is %.1f mm", startName,
                      *startMm, MilsToMillimetres(glass));
        error = text;
        return false;
    }
    uint32_t extent = extentMm ? MillimetresToMils(*extentMm) : glass - start;
    if (extent == 0) {
        error = std::string("the scan area is empty (") + extentName + " 0)";
        return false;
    }
    if (start + extent > glass) {
        if (start + extent - glass > kAreaToleranceMils) {
            char text[200];
            std::snprintf(text, sizeof text, "the scan area (%s %.1f mm, %s %.1f mm) reaches beyond the glass, which is %.1f mm",
                          startName, MilsToMillimetres(start), extentName, MilsToMillimetres(extent),
                          MilsToMillimetres(glass));
            error = text;
            return false;
        }
        extent = glass - start;
    }
    first = static_cast<uint16_t>(start);
    last = static_cast<uint16_t>(start + extent - 1); /* edges are inclusive */
    return true;
}

struct PageJob {
    const LoadedDriver &Driver;
    const ScanOptions &Options;
    const ScanPlan &Plan;
    std::string FileName;   /* empty: standard output */
    std::string Label;      /* for the progress bar */
    bool ShowProgress;
};

void EndScan(const DriverApi &api)
{
    ParamBlock block;
    std::memset(&block, 0, sizeof block);
    api.ScannerAbortScan(&block);
}

PageOutcome Interrupted(const DriverApi &api, OutputFile &out, std::unique_ptr<ImageWriter> &writer,
                        ProgressBar &bar)
{
    EndProgress(bar);
    EndScan(api);
    writer.reset();
    DiscardOutput(out);
    Report(std::string("interrupted by ") + (InterruptSignal == SIGTERM ? "SIGTERM" : "SIGINT") +
           ": the scan was stopped and no image was written");
    return PageOutcome::Interrupted;
}

PageOutcome ScanPage(const PageJob &job)
{
    const DriverApi &api = job.Driver.Api;
    std::string error;
    OutputFile out;
    if (!OpenOutput(job.FileName, out, error)) {
        Report(error);
        return PageOutcome::Failed;
    }
    std::unique_ptr<ImageWriter> writer = CreateImageWriter(job.Options.Format);
    ProgressBar bar;

    ScanAttributeBlock block = job.Plan.Block;
    block.lpGammaTable = job.Plan.Gamma.Bytes.empty() ? nullptr : const_cast<uint8_t *>(job.Plan.Gamma.Bytes.data());
    api.ScannerStartScan(&block);
    int rc = ResultCodeOf(block.dwResult);
    if (InterruptSignal != 0) {
        if (rc != SD_OK) {
            writer.reset();
            DiscardOutput(out);
            Report("interrupted: no image was written");
            return PageOutcome::Interrupted;
        }
        return Interrupted(api, out, writer, bar);
    }
    if (rc != SD_OK) {
        writer.reset();
        DiscardOutput(out);
        if (rc == SD_ERR_NO_MEDIUM)
            return PageOutcome::NoDocument;
        Report(DescribeFailure("cannot start the scan", rc));
        return PageOutcome::Failed;
    }

    ScanPlan started = {};
    started.Block = block;
    started.Channels = job.Plan.Channels;
    started.Depth = job.Plan.Depth;
    started.Resolution = job.Plan.Resolution;
    ImageInfo image = DeliveredImage(started);
    auto fail = [&](const std::string &message) {
        EndProgress(bar);
        EndScan(api);
        writer.reset();
        DiscardOutput(out);
        Report(message);
        return PageOutcome::Failed;
    };
    if (image.Width == 0 || image.Height == 0)
        return fail("the scan area holds no whole pixel at " + std::to_string(image.Resolution) + " dpi");
    /* Bilevel lines the scanner makes itself come at the resolution of its
     * scan window, which is not always the one asked for, and the driver
     * cannot rescale bits: such an image would be stretched and cut short. */
    if (image.Depth == 1 && LineBytes(image) != block.wWidth)
        return fail("at " + std::to_string(image.Resolution) + " dpi this scanner makes bilevel lines of " +
                    std::to_string(block.wWidth * 8u) + " pixels where the area holds " + std::to_string(image.Width) +
                    ": choose a resolution it scans bilevel images at (such as 250, 500 or 1000 dpi), "
                    "or --mode Gray");
    if (job.Options.Verbose)
        std::fprintf(stderr, "scan: %u x %u pixels, %s, %u bit%s per sample, %u dpi, into %s (%s)\n", image.Width,
                     image.Height, image.Channels == 3 ? "colour" : image.Depth == 1 ? "bilevel" : "grey",
                     image.Depth, image.Depth == 1 ? "" : "s", image.Resolution,
                     job.FileName.empty() ? "standard output" : job.FileName.c_str(), FormatName(job.Options.Format));
    if (!writer->Begin(out.Stream, image, error))
        return fail(error);

    size_t lineBytes = LineBytes(image);
    uint32_t perCall = static_cast<uint32_t>(std::max<size_t>(1, kBytesPerRead / lineBytes));
    perCall = std::min(perCall, image.Height);
    std::vector<uint8_t> buffer(static_cast<size_t>(perCall) * lineBytes);
    /* Lines the driver reports without data (after the scanner ended the
     * image early) come out as blank paper. */
    const uint8_t blank = image.Depth == 1 ? 0x00 : 0xFF;

    BeginProgress(bar, job.ShowProgress ? stderr : nullptr, job.Label, image.Height);
    uint32_t done = 0;
    int emptyCalls = 0;
    while (done < image.Height) {
        uint32_t want = std::min(perCall, image.Height - done);
        std::memset(buffer.data(), blank, static_cast<size_t>(want) * lineBytes);
        ImageDataBlock request;
        std::memset(&request, 0, sizeof request);
        request.lpImageBuffer = buffer.data();
        request.dwRequestLines = want;
        api.ScannerGetImage(&request);
        rc = ResultCodeOf(request.dwResult);
        if (rc != SD_OK)
            return fail(DescribeFailure("the scan stopped after " + std::to_string(done) + " of " +
                                            std::to_string(image.Height) + " lines",
                                        rc));
        uint32_t got = std::min<uint32_t>(request.dwReturnLines & 0xFFFF, want);
        if (got == 0 && ++emptyCalls > kMaxEmptyCalls)
            return fail("the driver delivers no more lines (" + std::to_string(done) + " of " +
                        std::to_string(image.Height) + ")");
        if (got > 0) {
            emptyCalls = 0;
            if (!writer->WriteLines(buffer.data(), got, error))
                return fail(error);
            done += got;
            UpdateProgress(bar, done);
        }
        if (InterruptSignal != 0)
            return Interrupted(api, out, writer, bar);
    }
    EndProgress(bar);
    EndScan(api);
    if (!writer->Finish(error))
        return fail(error);
    writer.reset();
    if (!CommitOutput(out, error)) {
        Report(error);
        return PageOutcome::Failed;
    }
    if (job.Options.Verbose && !job.FileName.empty())
        std::fprintf(stderr, "scan: wrote %s\n", job.FileName.c_str());
    return PageOutcome::Written;
}

int InterruptStatus()
{
    return 128 + (InterruptSignal != 0 ? static_cast<int>(InterruptSignal) : SIGINT);
}

} // namespace

bool PlanScan(const ScanOptions &options, const SourceInfo &info, ScanPlan &plan, std::string &error)
{
    ScanAttributeBlock &b = plan.Block;
    b = info.Defaults;
    b.dwResult = 0;
    b.wScanSource = SourceBits(options.Source);

    ScanMode mode = options.Mode;
    if (mode == ScanMode::Default)
        mode = info.HasColor() ? ScanMode::Color : ScanMode::Gray;
    bool bilevel = mode == ScanMode::Lineart || mode == ScanMode::Halftone;
    plan.Channels = mode == ScanMode::Color ? 3 : 1;
    plan.Depth = options.Depth != 0 ? options.Depth : bilevel ? 1 : 8;
    /* A colour request on a grey-only scanner goes to the driver as it is:
     * the driver refuses it in its own words (-308). */
    b.wImageType = mode == ScanMode::Color ? SD_IMAGE_COLOR : SD_IMAGE_RED;
    b.wBitsPerPixel = static_cast<uint16_t>(plan.Depth);
    if (mode == ScanMode::Lineart)
        b.wHalftoneMode = SD_HALFTONE_THRESHOLD;
    else if (mode == ScanMode::Halftone)
        b.wHalftoneMode = SD_HALFTONE_BUILTIN;
    if (options.HalftonePattern)
        b.wHalftonePattern = static_cast<uint16_t>(*options.HalftonePattern);

    plan.Resolution = options.Resolution != 0 ? options.Resolution : info.BaseResolution();
    if (plan.Resolution > info.HighestResolution()) {
        error = "--resolution " + std::to_string(plan.Resolution) + " is above the highest the scanner offers, " +
                std::to_string(info.HighestResolution()) + " dpi";
        return false;
    }
    b.wResolution = static_cast<uint16_t>(plan.Resolution);

    uint16_t left = 0, right = 0, top = 0, bottom = 0;
    if (!PlaceSpan("-l", "-x", options.LeftMm, options.WidthMm, info.Defaults.wWidth, left, right, error) ||
        !PlaceSpan("-t", "-y", options.TopMm, options.HeightMm, info.Defaults.wLength, top, bottom, error))
        return false;
    b.wLeft = left;
    b.wRight = right;
    b.wTop = top;
    b.wBottom = bottom;

    for (int c = 0; c < 3; ++c) {
        b.lBrightness[c] = options.Brightness;
        b.lContrast[c] = options.Contrast;
    }

    plan.Gamma = GammaTable{};
    b.lpGammaTable = nullptr;
    if (!options.GammaFile.empty()) {
        if (!LoadGammaFile(options.GammaFile, plan.Channels, plan.Depth, plan.Gamma, error))
            return false;
        b.wGammaScale = plan.Gamma.GammaScale;
        b.wFlags = static_cast<uint16_t>(b.wFlags | SD_FLAG_GAMMA);
    }
    return true;
}

ImageInfo DeliveredImage(const ScanPlan &plan)
{
    const ScanAttributeBlock &b = plan.Block;
    ImageInfo image;
    image.Height = b.wLength;
    image.Channels = plan.Channels;
    image.Depth = plan.Depth;
    image.Resolution = plan.Resolution;
    if (plan.Depth == 1)
        image.Width = ((static_cast<uint32_t>(b.wRight) - b.wLeft + 1) * plan.Resolution + 500) / 1000 & 0xFFFF;
    else
        image.Width = b.wWidth;
    return image;
}

int RunScans(const LoadedDriver &driver, const ScanOptions &options)
{
    const DriverApi &api = driver.Api;
    std::string error;
    if (!RequireExports(driver,
                        {"vDefaultAttribute", "vScannerCapability", "vScannerStartScan", "vScannerGetImage",
                         "vScannerAbortScan"},
                        error)) {
        Report(error);
        return kExitFailure;
    }
    if (options.OutputFile.empty()) {
        if (isatty(STDOUT_FILENO)) {
            Report("will not write image data to a terminal: use -o FILE, or redirect standard output");
            return kExitUsage;
        }
        if (FormatNeedsSeekableFile(options.Format) && !IsSeekable(stdout)) {
            Report("a TIFF image cannot be written to a pipe: use -o FILE");
            return kExitUsage;
        }
    }

    SourceInfo flatbed;
    int rc = ReadSourceInfo(api, ScanSource::Flatbed, flatbed);
    if (rc != SD_OK) {
        Report(DescribeFailure("cannot read what the scanner offers", rc));
        return kExitFailure;
    }
    SourceInfo chosen = flatbed;
    if (options.Source != ScanSource::Flatbed) {
        if (!(flatbed.Caps.wSources & SourceBits(options.Source))) {
            Report(options.Source == ScanSource::Adf ? "the scanner has no document feeder (--source ADF)"
                                                     : "the scanner has no transparency unit (--source Transparency)");
            return kExitFailure;
        }
        rc = ReadSourceInfo(api, options.Source, chosen);
        if (rc != SD_OK) {
            Report(DescribeFailure(std::string("cannot read what the ") + SourceName(options.Source) + " offers", rc));
            return kExitFailure;
        }
    }

    ScanPlan plan;
    if (!PlanScan(options, chosen, plan, error)) {
        Report(error);
        return kExitUsage;
    }

    bool showProgress = options.Progress == 1 || (options.Progress == -1 && isatty(STDERR_FILENO));
    InstallInterruptHandlers();
    for (unsigned i = 0; i < options.BatchCount; ++i) {
        unsigned page = options.BatchStart + i;
        PageJob job{driver, options, plan,
                    options.OutputFile.empty() ? std::string()
                                               : BatchFileName(options.OutputFile, page, options.BatchCount),
                    options.BatchCount > 1 ? "Page " + std::to_string(page) : std::string("Scanning"),
                    showProgress};
        switch (ScanPage(job)) {
        case PageOutcome::Written:
            break;
        case PageOutcome::NoDocument:
            if (i > 0 && options.Source == ScanSource::Adf) {
                std::fprintf(stderr, "scan: the document feeder is empty after %u page%s\n", i, i == 1 ? "" : "s");
                return kExitOk;
            }
            Report(DescribeFailure("cannot start the scan", SD_ERR_NO_MEDIUM));
            return kExitFailure;
        case PageOutcome::Interrupted:
            return InterruptStatus();
        case PageOutcome::Failed:
            return kExitFailure;
        }
        if (InterruptSignal != 0) {
            Report("interrupted between pages");
            return InterruptStatus();
        }
    }
    return kExitOk;
}
