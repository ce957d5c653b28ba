/*
 * vector_support.cpp - the processor check behind VectorRoutinesUsable.
 */
#include "vector_support.h"

namespace {

bool PlainOnly = false;

bool ProcessorHasAvx2()
{
#if defined(SCANDRV_HAVE_AVX2)
    /* The check reads CPUID once; it may run before the compiler's own
     * start-up code has filled in its model, hence the explicit init. */
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has;
#else
    return false;
#endif
}

} // namespace

bool VectorRoutinesUsable()
{
    return !PlainOnly && ProcessorHasAvx2();
}

void UsePlainRoutinesOnly(bool plainOnly)
{
    PlainOnly = plainOnly;
}
