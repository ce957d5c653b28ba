/*
 * make_seeds.cpp - writes the seed sessions (seeds.cpp) into a directory,
 * one file per seed, named after it: fuzz_make_seeds fuzz/corpus
 */
#include "seeds.h"

#include <cstdio>
#include <fstream>
#include <string>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 2;
    }
    for (const fuzzsession::Seed &seed : fuzzsession::SeedSessions()) {
        const std::vector<uint8_t> bytes = fuzzsession::EncodeSession(seed.Script);
        const std::string path = std::string(argv[1]) + "/" + seed.Name;
        std::ofstream file(path, std::ios::binary);
        file.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!file) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
