/*
 * gamma_file.cpp - reading gamma tables. A text table of N entries (256,
 * 1024, 4096 or 65536) maps input levels 0..N-1 to output levels 0..N-1;
 * it is resampled by linear interpolation to the 256 or 65536 entries the
 * driver takes best (the driver resamples other sizes poorly or not at all),
 * with the output scaled to the scan's sample range. A raw table already has
 * the driver's layout and is only checked for size.
 */
#include "gamma_file.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

constexpr uint32_t kTableSizes[] = {256, 1024, 4096, 65536};

bool IsTableSize(size_t n)
{
    for (uint32_t size : kTableSizes)
        if (n == size)
            return true;
    return false;
}

/* True when the contents are digits, separators and comments only. */
bool LooksLikeText(const std::string &contents)
{
    bool inComment = false;
    for (unsigned char c : contents) {
        if (inComment) {
            inComment = c != '\n';
            continue;
        }
        if (c == '#')
            inComment = true;
        else if (!((c >= '0' && c <= '9') || c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ','))
            return false;
    }
    return true;
}

bool ParseText(const std::string &contents, std::vector<uint32_t> &values, std::string &error)
{
    size_t i = 0;
    while (i < contents.size()) {
        char c = contents[i];
        if (c == '#') {
            while (i < contents.size() && contents[i] != '\n')
                ++i;
        } else if (c >= '0' && c <= '9') {
            uint64_t value = 0;
            while (i < contents.size() && contents[i] >= '0' && contents[i] <= '9') {
                value = value * 10 + static_cast<uint64_t>(contents[i] - '0');
                if (value > 65535) {
                    error = "a value is larger than 65535";
                    return false;
                }
                ++i;
            }
            values.push_back(static_cast<uint32_t>(value));
        } else {
            ++i;
        }
    }
    return true;
}

/* Channel table `source` (n entries, values 0..n-1) resampled to `entries`
 * entries with values 0..maxOut. */
void Resample(const uint32_t *source, size_t n, size_t entries, uint32_t maxOut, std::vector<uint32_t> &out)
{
    out.resize(entries);
    double inStep = static_cast<double>(n - 1) / static_cast<double>(entries - 1);
    double outScale = static_cast<double>(maxOut) / static_cast<double>(n - 1);
    for (size_t i = 0; i < entries; ++i) {
        double x = static_cast<double>(i) * inStep;
        size_t k = static_cast<size_t>(x);
        if (k >= n - 1)
            k = n - 2;
        double frac = x - static_cast<double>(k);
        double v = source[k] + (static_cast<double>(source[k + 1]) - source[k]) * frac;
        long scaled = std::lround(v * outScale);
        out[i] = static_cast<uint32_t>(scaled < 0 ? 0 : (scaled > static_cast<long>(maxOut) ? maxOut : scaled));
    }
}

void AppendEntries(const std::vector<uint32_t> &entries, bool wide, std::vector<uint8_t> &bytes)
{
    for (uint32_t v : entries) {
        if (wide) {
            uint16_t word = static_cast<uint16_t>(v);
            uint8_t raw[2];
            std::memcpy(raw, &word, 2); /* host byte order, as the driver reads it */
            bytes.push_back(raw[0]);
            bytes.push_back(raw[1]);
        } else {
            bytes.push_back(static_cast<uint8_t>(v));
        }
    }
}

bool BuildFromText(const std::string &contents, unsigned channels, bool wide, GammaTable &out, std::string &error)
{
    std::vector<uint32_t> values;
    if (!ParseText(contents, values, error))
        return false;
    size_t tables = 0;
    size_t n = 0;
    if (IsTableSize(values.size())) {
        tables = 1;
        n = values.size();
    } else if (values.size() % 3 == 0 && IsTableSize(values.size() / 3)) {
        tables = 3;
        n = values.size() / 3;
    } else {
        error = "it holds " + std::to_string(values.size()) +
                " values; a table has 256, 1024, 4096 or 65536 entries (or three tables of them)";
        return false;
    }
    if (tables == 3 && channels == 1) {
        error = "it holds three tables (red, green, blue), but a single-channel scan takes one";
        return false;
    }
    for (uint32_t v : values)
        if (v > n - 1) {
            error = "value " + std::to_string(v) + " is out of range for a table of " + std::to_string(n) +
                    " entries (0 to " + std::to_string(n - 1) + ")";
            return false;
        }
    size_t entries = wide ? 65536 : 256;
    uint32_t maxOut = wide ? 65535 : 255;
    out.Bytes.clear();
    out.GammaScale = wide ? 256 : 0;
    std::vector<uint32_t> resampled;
    for (unsigned c = 0; c < channels; ++c) {
        const uint32_t *table = values.data() + (tables == 3 ? c * n : 0);
        Resample(table, n, entries, maxOut, resampled);
        AppendEntries(resampled, wide, out.Bytes);
    }
    return true;
}

bool BuildFromRaw(const std::string &contents, unsigned channels, bool wide, GammaTable &out, std::string &error)
{
    size_t one = wide ? 65536 * 2 : 256;
    size_t tables = contents.size() == one ? 1 : contents.size() == 3 * one ? 3 : 0;
    if (tables == 0) {
        error = "a raw table for a " + std::string(wide ? "16-bit" : "1- or 8-bit") + " scan has " +
                std::to_string(one) + " or " + std::to_string(3 * one) + " bytes, not " +
                std::to_string(contents.size());
        return false;
    }
    if (tables == 3 && channels == 1) {
        error = "it holds three tables (red, green, blue), but a single-channel scan takes one";
        return false;
    }
    out.Bytes.clear();
    out.GammaScale = wide ? 256 : 0;
    for (unsigned c = 0; c < channels; ++c) {
        const uint8_t *table = reinterpret_cast<const uint8_t *>(contents.data()) + (tables == 3 ? c * one : 0);
        if (!wide) {
            out.Bytes.insert(out.Bytes.end(), table, table + one);
            continue;
        }
        std::vector<uint32_t> entries(65536);
        for (size_t i = 0; i < entries.size(); ++i)
            entries[i] = table[2 * i] | (static_cast<uint32_t>(table[2 * i + 1]) << 8); /* little-endian file */
        AppendEntries(entries, true, out.Bytes);
    }
    return true;
}

} // namespace

bool BuildGammaTable(const std::string &contents, unsigned channels, unsigned depth, GammaTable &out,
                     std::string &error)
{
    bool wide = depth > 8;
    if (LooksLikeText(contents))
        return BuildFromText(contents, channels, wide, out, error);
    return BuildFromRaw(contents, channels, wide, out, error);
}

bool LoadGammaFile(const std::string &path, unsigned channels, unsigned depth, GammaTable &out, std::string &error)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot read the gamma file " + path + ": " + std::strerror(errno);
        return false;
    }
    std::ostringstream contents;
    contents << file.rdbuf();
    std::string reason;
    if (!BuildGammaTable(contents.str(), channels, depth, out, reason)) {
        error = "gamma file " + path + ": " + reason;
        return false;
    }
    return true;
}
