/*
 * seeds.h - the seed sessions of the fuzz corpus: well-formed scans of every
 * kind (grey, colour in whole pixels and in tagged segments, bits made by the
 * driver and by the scanner, rescaled up and down, mirrored, calibrated, with
 * the caller's tables) and a few with the scanner or the caller misbehaving.
 * fuzz/corpus/ holds them encoded (tools: fuzz_make_seeds); the corpus tests
 * check that those files are these sessions and that each does what it says.
 */
#ifndef SCANDRV_FUZZ_SEEDS_H
#define SCANDRV_FUZZ_SEEDS_H

#include "session.h"

#include <string>
#include <vector>

namespace fuzzsession {

struct Seed {
    std::string Name;
    SessionScript Script;
    /* Both scans start and deliver every line they promise. */
    bool ScansComplete = true;
};

std::vector<Seed> SeedSessions();

/* A 300 dpi colour flatbed of 510 x 3300 pixels that keeps to its windows,
 * and two grey scans of 250 x 25 pixels read in calls of 1, 7, 0 and 40
 * lines. The seeds are variations of it. */
SessionScript WellBehavedSession();

} // namespace fuzzsession

#endif
