/*
 * gamma_file.h - the --gamma-file option: a gamma table read from a text
 * file (or taken raw) and turned into the table the driver is handed in
 * lpGammaTable, sized for the scan's depth and channel count.
 */
#ifndef SCAN_GAMMA_FILE_H
#define SCAN_GAMMA_FILE_H

#include <cstdint>
#include <string>
#include <vector>

struct GammaTable {
    std::vector<uint8_t> Bytes; /* lpGammaTable: 1-byte entries, or 2-byte in host order */
    uint16_t GammaScale = 0;    /* wGammaScale: 0 for 256 entries, 256 for 65536 */
};

/* Builds the driver's table from a file's contents for a scan of channels
 * (1 or 3) and depth (1, 8 or 16) bits per sample: up to 8 bits, 256
 * one-byte entries per channel; 16 bits, 65536 two-byte entries. */
bool BuildGammaTable(const std::string &contents, unsigned channels, unsigned depth, GammaTable &out,
                     std::string &error);

/* Reads the file and builds the table; errors name the file. */
bool LoadGammaFile(const std::string &path, unsigned channels, unsigned depth, GammaTable &out, std::string &error);

#endif
