/*
 * fuzz_target.cpp - the libFuzzer entry: every input is one scripted session
 * (session.h). A promise the driver breaks is reported and aborts, so the
 * fuzzer keeps the input as a crash like any sanitizer finding.
 */
#include "session.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const fuzzsession::SessionOutcome outcome = fuzzsession::RunSession(data, size);
    if (!outcome.Failures.empty()) {
        for (const std::string &failure : outcome.Failures)
            std::fprintf(stderr, "scandrv session: %s\n", failure.c_str());
        std::abort();
    }
    return 0;
}
