/*
 * vector_support.h - whether the per-line routines may use their vector
 * variants. The variants are built for x86-64 hosts other than Windows
 * (SCANDRV_HAVE_AVX2) and run only where the processor has AVX2. Each scan's
 * set-up asks once and stores the routines it picked, so no per-line or
 * per-pixel loop decides anything. Every variant gives exactly the bytes
 * its plain routine gives; the switch below lets the tests compare them.
 */
#ifndef SCANDRV_VECTOR_SUPPORT_H
#define SCANDRV_VECTOR_SUPPORT_H

/* True when the vector variants are built in, the processor runs them and
 * they have not been switched off. */
bool VectorRoutinesUsable();

/* Test and benchmark seam: with plainOnly the set-ups that follow choose
 * the plain routines even where the vector ones could run. */
void UsePlainRoutinesOnly(bool plainOnly);

#endif
