/*
 * progress.cpp - drawing the progress bar.
 */
#include "progress.h"

namespace {

constexpr int kBarWidth = 40;

void Draw(ProgressBar &bar, int permille)
{
    int filled = permille * kBarWidth / 1000;
    char cells[kBarWidth + 1];
    for (int i = 0; i < kBarWidth; ++i)
        cells[i] = i < filled ? '#' : ' ';
    cells[kBarWidth] = '\0';
    std::fprintf(bar.Stream, "\r%s [%s] %3d.%d%%", bar.Label.c_str(), cells, permille / 10, permille % 10);
    std::fflush(bar.Stream);
}

} // namespace

void BeginProgress(ProgressBar &bar, FILE *stream, const std::string &label, uint32_t total)
{
    bar.Stream = stream;
    bar.Label = label;
    bar.Total = total;
    bar.Shown = -1;
    if (bar.Stream != nullptr)
        UpdateProgress(bar, 0);
}

void UpdateProgress(ProgressBar &bar, uint32_t done)
{
    if (bar.Stream == nullptr)
        return;
    int permille = bar.Total == 0 ? 1000 : static_cast<int>(static_cast<uint64_t>(done) * 1000 / bar.Total);
    if (permille > 1000)
        permille = 1000;
    if (permille == bar.Shown)
        return;
    bar.Shown = permille;
    Draw(bar, permille);
}

void EndProgress(ProgressBar &bar)
{
    if (bar.Stream == nullptr)
        return;
    std::fputc('\n', bar.Stream);
    std::fflush(bar.Stream);
    bar.Stream = nullptr;
}
