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

#include "document_writer.h"
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
/* A preview scans at the lowest resolution offered from here up: enough
 * to choose an area by, quick to scan. */
constexpr unsigned kPreviewResolution = 50;

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

void EndScan(const DriverApi &api)
{
    ParamBlock block;
    std::memset(&block, 0, sizeof block);
    api.ScannerAbortScan(&block);
}

/* Where the lines of one page go: a file of its own, or the next page of
 * the batch's document. Open comes before the scan starts, so that a file
 * that cannot be written costs no page of the feeder; a page that fails or
 * is interrupted is discarded and leaves nothing behind. */
class PageSink {
public:
    virtual ~PageSink() = default;
    virtual bool Open(std::string &error) = 0;
    virtual bool Begin(const ImageInfo &image, std::string &error) = 0;
    virtual bool WriteLines(const uint8_t *lines, uint32_t count, std::string &error) = 0;
    virtual bool Commit(std::string &error) = 0;
    virtual void Discard() = 0;
};

/* A file of its own, written under a temporary name and renamed when done. */
class FileSink : public PageSink {
public:
    FileSink(ImageFormat format, std::string fileName) : Format(format), FileName(std::move(fileName)) {}
    ~FileSink() override { Discard(); }

    bool Open(std::string &error) override
    {
        Writer = CreateImageWriter(Format);
        return OpenOutput(FileName, Out, error);
    }
    bool Begin(const ImageInfo &image, std::string &error) override { return Writer->Begin(Out.Stream, image, error); }
    bool WriteLines(const uint8_t *lines, uint32_t count, std::string &error) override
    {
        return Writer->WriteLines(lines, count, error);
    }
    bool Commit(std::string &error) override
    {
        if (!Writer->Finish(error))
            return false;
        Writer.reset();
        return CommitOutput(Out, error);
    }
    void Discard() override
    {
        Writer.reset();
        DiscardOutput(Out);
    }

private:
    ImageFormat Format;
    std::string FileName;
    std::unique_ptr<ImageWriter> Writer;
    OutputFile Out;
};

/* The next page of the batch's document; the document's file is the
 * batch's, opened before the first page and committed after the last. */
class DocumentPageSink : public PageSink {
public:
    explicit DocumentPageSink(DocumentWriter &document) : Document(document) {}
    bool Open(std::string &) override { return true; }
    bool Begin(const ImageInfo &image, std::string &error) override { return Document.BeginPage(image, error); }
    bool WriteLines(const uint8_t *lines, uint32_t count, std::string &error) override
    {
        return Document.WriteLines(lines, count, error);
    }
    bool Commit(std::string &error) override { return Document.EndPage(error); }
    void Discard() override { Document.AbandonPage(); }

private:
    DocumentWriter &Document;
};

struct PageJob {
    const LoadedDriver &Driver;
    const ScanOptions &Options;
    const ScanPlan &Plan;
    PageSink &Sink;
    std::string Where;      /* the file, for messages */
    std::string Label;      /* for the progress bar */
    std::string Prefix;     /* "page 3: " in a batch, before every message */
    bool ShowProgress;
};

PageOutcome Interrupted(const PageJob &job, ProgressBar &bar)
{
    EndProgress(bar);
    EndScan(job.Driver.Api);
    job.Sink.Discard();
    Report(job.Prefix + "interrupted by " + (InterruptSignal == SIGTERM ? "SIGTERM" : "SIGINT") +
           ": the scan was stopped and its image was not written");
    return PageOutcome::Interrupted;
}

PageOutcome ScanPage(const PageJob &job)
{
    const DriverApi &api = job.Driver.Api;
    std::string error;
    if (!job.Sink.Open(error)) {
        Report(job.Prefix + error);
        return PageOutcome::Failed;
    }
    ProgressBar bar;

    ScanAttributeBlock block = job.Plan.Block;
    block.lpGammaTable = job.Plan.Gamma.Bytes.empty() ? nullptr : const_cast<uint8_t *>(job.Plan.Gamma.Bytes.data());
    std::array<uint16_t, 9> toneLevels = job.Plan.ToneLevels;
    block.lpToneLevels = toneLevels.data();
    api.ScannerStartScan(&block);
    int rc = ResultCodeOf(block.dwResult);
    if (InterruptSignal != 0) {
        if (rc != SD_OK) {
            job.Sink.Discard();
            Report(job.Prefix + "interrupted: no image was written");
            return PageOutcome::Interrupted;
        }
        return Interrupted(job, bar);
    }
    if (rc != SD_OK) {
        job.Sink.Discard();
        if (rc == SD_ERR_NO_MEDIUM)
            return PageOutcome::NoDocument;
        Report(DescribeFailure(job.Prefix + "cannot start the scan", rc));
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
        job.Sink.Discard();
        Report(job.Prefix + message);
        return PageOutcome::Failed;
    };
    if (image.Width == 0 || image.Height == 0)
        return fail("the scan area holds no whole pixel at " + std::to_string(image.Resolution) + " dpi");
    /* The image is written with the line size the area gives; a driver that
     * reports bilevel lines of another size would have them stretched and
     * cut short, so such a scan is refused rather than written wrong. */
    if (image.Depth == 1 && LineBytes(image) != block.wWidth)
        return fail("the driver delivers bilevel lines of " + std::to_string(block.wWidth) + " bytes where the area holds " +
                    std::to_string(image.Width) + " pixels at " + std::to_string(image.Resolution) +
                    " dpi; try --mode Gray");
    if (job.Options.Verbose)
        std::fprintf(stderr, "scan: %s%u x %u pixels, %s, %u bit%s per sample, %u dpi, into %s (%s)\n",
                     job.Prefix.c_str(), image.Width, image.Height,
                     image.Channels == 3 ? "colour" : image.Depth == 1 ? "bilevel" : "grey", image.Depth,
                     image.Depth == 1 ? "" : "s", image.Resolution, job.Where.c_str(), FormatName(job.Options.Format));
    if (!job.Sink.Begin(image, error))
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
        /* A feeder takes its page when the image starts: an empty tray
         * answers the first read. */
        if (rc == SD_ERR_NO_MEDIUM && done == 0) {
            EndProgress(bar);
            EndScan(api);
            job.Sink.Discard();
            return PageOutcome::NoDocument;
        }
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
            if (!job.Sink.WriteLines(buffer.data(), got, error))
                return fail(error);
            done += got;
            UpdateProgress(bar, done);
        }
        if (InterruptSignal != 0)
            return Interrupted(job, bar);
    }
    EndProgress(bar);
    EndScan(api);
    if (!job.Sink.Commit(error)) {
        job.Sink.Discard();
        Report(job.Prefix + error);
        return PageOutcome::Failed;
    }
    if (job.Options.Verbose)
        std::fprintf(stderr, "scan: %swrote %s\n", job.Prefix.c_str(), job.Where.c_str());
    return PageOutcome::Written;
}

int InterruptStatus()
{
    return 128 + (InterruptSignal != 0 ? static_cast<int>(InterruptSignal) : SIGINT);
}

} // namespace

unsigned PreviewResolution(const SourceInfo &info)
{
    unsigned best = 0;
    for (uint16_t r : info.Resolutions)
        if (r >= kPreviewResolution && (best == 0 || r < best))
            best = r;
    return best != 0 ? best : info.HighestResolution();
}

bool PlanScan(const ScanOptions &options, const SourceInfo &info, ScanPlan &plan, std::string &error)
{
    ScanAttributeBlock &b = plan.Block;
    b = info.Defaults;
    b.dwResult = 0;
    b.wScanSource = SourceBits(options.Source);

    ScanMode mode = options.Mode;
    if (mode == ScanMode::Default || options.Preview)
        mode = info.HasColor() ? ScanMode::Color : ScanMode::Gray;
    bool bilevel = mode == ScanMode::Lineart || mode == ScanMode::Halftone;
    plan.Channels = mode == ScanMode::Color ? 3 : 1;
    plan.Depth = options.Depth != 0 && !options.Preview ? options.Depth : bilevel ? 1 : 8;
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

    plan.Resolution = options.Preview           ? PreviewResolution(info)
                      : options.Resolution != 0 ? options.Resolution
                                                : info.BaseResolution();
    if (plan.Resolution > info.HighestResolution()) {
        error = "--resolution " + std::to_string(plan.Resolution) + " is above the highest the scanner offers, " +
                std::to_string(info.HighestResolution()) + " dpi";
        return false;
    }
    b.wResolution = static_cast<uint16_t>(plan.Resolution);

    /* A preview shows the whole glass; the area is for the scan after it. */
    const std::optional<double> whole;
    uint16_t left = 0, right = 0, top = 0, bottom = 0;
    if (!PlaceSpan("-l", "-x", options.Preview ? whole : options.LeftMm, options.Preview ? whole : options.WidthMm,
                   info.Defaults.wWidth, left, right, error) ||
        !PlaceSpan("-t", "-y", options.Preview ? whole : options.TopMm, options.Preview ? whole : options.HeightMm,
                   info.Defaults.wLength, top, bottom, error))
        return false;
    b.wLeft = left;
    b.wRight = right;
    b.wTop = top;
    b.wBottom = bottom;

    for (int c = 0; c < 3; ++c) {
        b.lBrightness[c] = options.Brightness;
        b.lContrast[c] = options.Contrast;
    }
    /* A level not given keeps its flag clear: the driver puts the default in. */
    const std::pair<const std::optional<unsigned> &, uint16_t> levels[] = {
        {options.Shadow, SD_FLAG_SHADOW}, {options.Midtone, SD_FLAG_MIDTONE}, {options.Highlight, SD_FLAG_HIGHLIGHT}};
    for (int k = 0; k < 3; ++k) {
        const auto &[level, flag] = levels[k];
        for (int c = 0; c < 3; ++c)
            plan.ToneLevels[3 * k + c] = static_cast<uint16_t>(level.value_or(0));
        if (level)
            b.wFlags = static_cast<uint16_t>(b.wFlags | flag);
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

ImageInfo PlannedImage(const ScanPlan &plan)
{
    const ScanAttributeBlock &b = plan.Block;
    ImageInfo image;
    image.Width = ((static_cast<uint32_t>(b.wRight) - b.wLeft + 1) * plan.Resolution + 500) / 1000;
    image.Height = ((static_cast<uint32_t>(b.wBottom) - b.wTop + 1) * plan.Resolution + 500) / 1000;
    image.Channels = plan.Channels;
    image.Depth = plan.Depth;
    image.Resolution = plan.Resolution;
    return image;
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
    bool oneDocument = WritesOneDocument(options);
    std::unique_ptr<DocumentWriter> document;
    OutputFile documentFile;
    if (oneDocument) {
        document = options.Format == ImageFormat::Pdf ? CreatePdfWriter(options.JpegQuality) : CreateTiffPagesWriter();
        if (!document->Accepts(PlannedImage(plan), error)) {
            Report(error);
            return kExitUsage;
        }
        if (!OpenOutput(options.OutputFile, documentFile, error) || !document->Begin(documentFile.Stream, error)) {
            Report(error);
            DiscardOutput(documentFile);
            return kExitFailure;
        }
    }

    InstallInterruptHandlers();
    const bool fromFeeder = options.Batch && options.Source == ScanSource::Adf;
    const unsigned limit = options.Batch ? options.BatchCount : 1; /* 0: until the feeder is empty */
    int status = kExitOk;
    unsigned written = 0, failedPage = 0;
    bool feederEmpty = false;
    for (unsigned i = 0; limit == 0 || i < limit; ++i) {
        unsigned page = options.BatchStart + i * options.BatchIncrement;
        std::string name = oneDocument || options.OutputFile.empty() ? options.OutputFile
                                                                     : BatchFileName(options.OutputFile, page);
        std::unique_ptr<PageSink> sink;
        if (oneDocument)
            sink = std::make_unique<DocumentPageSink>(*document);
        else
            sink = std::make_unique<FileSink>(options.Format, name);
        std::string where = name.empty() ? "standard output" : name;
        if (oneDocument && options.Batch)
            where += " (page " + std::to_string(written + 1) + ")";
        PageJob job{driver,
                    options,
                    plan,
                    *sink,
                    where,
                    options.Batch ? "Page " + std::to_string(page) : std::string("Scanning"),
                    options.Batch ? "page " + std::to_string(page) + ": " : std::string(),
                    showProgress};
        PageOutcome outcome = ScanPage(job);
        if (outcome == PageOutcome::Written) {
            ++written;
        } else if (outcome == PageOutcome::NoDocument && fromFeeder) {
            /* The device's word ends a feeder batch: the sensor alone cannot
             * tell an empty tray from a busy scanner. */
            feederEmpty = true;
            break;
        } else {
            if (outcome == PageOutcome::NoDocument)
                Report(DescribeFailure(job.Prefix + "cannot start the scan", SD_ERR_NO_MEDIUM));
            status = outcome == PageOutcome::Interrupted ? InterruptStatus() : kExitFailure;
            failedPage = page;
            break;
        }
        if (InterruptSignal != 0) {
            Report("interrupted between pages");
            status = InterruptStatus();
            break;
        }
    }

    /* The document keeps every page that was completed. */
    if (oneDocument) {
        if (document->Pages() == 0) {
            DiscardOutput(documentFile);
        } else if (!document->Finish(error) || !CommitOutput(documentFile, error)) {
            Report(error);
            DiscardOutput(documentFile);
            status = kExitFailure;
            written = 0;
        }
    }
    if (feederEmpty)
        std::fprintf(stderr, "scan: feeder empty after %u page%s%s\n", written, written == 1 ? "" : "s",
                     written == 0 ? "; nothing was written" : "");
    if (options.Batch && failedPage != 0) {
        std::string kept = written == 0 ? "no page was kept"
                                        : "the " + std::to_string(written) + " page" + (written == 1 ? "" : "s") +
                                              " scanned before it " + (written == 1 ? "is" : "are") + " kept" +
                                              (oneDocument ? " in " + options.OutputFile : "");
        Report("the batch stopped at page " + std::to_string(failedPage) + "; " + kept);
    }
    return status;
}
