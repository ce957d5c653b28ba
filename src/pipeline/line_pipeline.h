/*
 * line_pipeline.h - the line pipeline: the one LinePipeline record, its set-up
 * at scan start, and ProcessChunk, through which image reading turns runs of
 * scanner lines into the caller's lines.
 *
 * The set-up (pipeline_setup.cpp) chooses the method, the chunk routine and
 * the horizontal routine once per scan; vertical.cpp moves lines between
 * chunks; horizontal.cpp rescales single lines across.
 */
#ifndef SCANDRV_LINE_PIPELINE_H
#define SCANDRV_LINE_PIPELINE_H

#include "platform/platform.h"
#include "scandrv.h"

#include <cstdint>

/* A run of lines: the first line and how many follow it. Source lines lie
 * SrcLineBytes apart, output lines DstLineBytes apart. */
struct ChunkDesc {
    uint8_t *Lines;
    uint32_t Count;
};

/* The routine behind ProcessChunk (one per method and sample width). */
typedef int32_t (*ChunkRoutineFn)(const ChunkDesc &dst, const ChunkDesc &src, uint32_t &consumed,
                                  uint32_t &produced);
/* A horizontal routine: makes one output line from one source-geometry line. */
typedef void (*LineScalerFn)(uint8_t *dstLine, const uint8_t *srcLine);
/* A vertical blend: count samples of prev blended toward cur by w/n (w < n),
 * each truncated toward prev (InterpolateSample), written to out. */
typedef void (*LineBlendFn)(uint8_t *out, const uint8_t *prev, const uint8_t *cur, uint32_t count, uint32_t w,
                            uint32_t n);

/* Where the vector uniform horizontal routines find their sources, made once
 * per scan by the set-up (horizontal.cpp) in a block of their own. Output
 * pixel k from Head on is prev + (next - prev) x Multipliers[k] / 2^Shift,
 * truncated toward prev, per channel, where prev is the pixel starting at
 * byte Offsets[k] of the source line and next the pixel after it; a
 * multiplier of 0 makes the pixel at Offsets[k] itself and reads nothing
 * after it. The pixels before Head blend against the extrapolated pixel
 * before the line. From InLine on, the vector loads would reach past the
 * source line. Where every vector's sources fit two 16-byte windows, the
 * routine shuffles them out of Windows instead of gathering them. */
struct AcrossWindow;
struct UniformAcrossTable {
    const uint32_t *Offsets;
    const uint32_t *Multipliers;
    const AcrossWindow *Windows; /* null: the sources are gathered */
    uint32_t Head;
    uint32_t InLine;
    uint32_t Shift;
};

/* Where eight samples of the output (one vector, from Head on) find their
 * pair when each half of four takes it from 16 source bytes: the window's
 * start in the source line, per half, and each sample's byte within it. */
struct AcrossWindow {
    uint32_t Base[2];
    uint8_t Rel[8];
};

/* What the set-up hands to InitLinePipeline; the head of LinePipeline. */
struct PipelineParams {
    uint16_t UniformResample; /* 1 uniform interpolation, 0 insert-and-drop */
    uint16_t Color;           /* non-zero: three samples per pixel */
    uint16_t BitsPerSample;   /* above 8: 16-bit host-order samples, else bytes */
    uint32_t SrcPixels;       /* pixels per scanner line */
    uint32_t SrcLines;        /* scanner lines in the scan */
    uint32_t SrcLineBytes;    /* distance from one scanner line to the next */
    uint32_t DstPixels;       /* pixels per output line */
    uint32_t DstLines;        /* output lines in the scan */
    uint32_t DstLineBytes;    /* distance from one output line to the next */
};

struct LinePipelineRecord : PipelineParams {
    uint16_t FirstLine;          /* 1 until the first previous line has been prepared */
    uint32_t LinePhase;          /* vertical counter, meaning per method (vertical.cpp) */
    uint32_t LineTarget;         /* vertical counter, meaning per method (vertical.cpp) */
    uint32_t InsertLeft;         /* insert-and-drop: lines still to make from the current
                                    source line; all bits set: take up a new one */
    MemoryHandle BufferHandle;   /* block holding PrevLine and WorkLine, or null */
    uint8_t *PrevLine;           /* previous source line (or the extrapolated one) */
    uint8_t *WorkLine;           /* the line being blended */
    ChunkRoutineFn ChunkRoutine; /* UniformChunk or InsertChunk; null: lines cannot flow */
    LineScalerFn LineScaler;     /* horizontal routine, null when pixel counts agree */
    uint32_t SrcLinesLeft;       /* uniform: source lines not yet consumed, stops at 1 */
    uint16_t SampleMax;          /* largest sample value */
    uint32_t PrevWeight;         /* insert-and-drop: weight of PrevLine in a blend */
    uint32_t CurWeight;          /* insert-and-drop: weight of the source line */
    uint32_t WeightSum;          /* insert-and-drop: divisor of a blend */
    uint32_t OutputLinesLeft;    /* output lines the scan still owes; no routine makes more */
    LineBlendFn LineBlend;       /* uniform: the vertical blend of the sample width */
    UniformAcrossTable Across;   /* tables of a vector uniform LineScaler; null pointers otherwise */
    MemoryHandle AcrossHandle;   /* block holding Across's tables, or null */
};

extern LinePipelineRecord LinePipeline;

/* Last step of the scan start: reads the image geometry, writes wWidth and
 * wLength, the transfer geometry of TransferState and the LinePipeline.
 * False with dwResult set when the geometry READ fails (its code), when the
 * geometry is beyond what the pipeline handles (SD_ERR_PARAMETER_VALUE), or
 * when the line buffers cannot be had (SD_ERR_NO_MEMORY). */
bool SetUpLinePipeline(ScanAttributeBlock *block);

/* Copies the record into LinePipeline, chooses the routines and counters and
 * takes the line buffers when the line counts differ, and the tables of a
 * vector uniform routine when one is chosen (without them the plain routine
 * stays). 1 on success, 0 when the line buffers were not obtained; then no
 * block is held and ChunkRoutine is null. Trusts the record:
 * SetUpLinePipeline checks the geometry first. */
int InitLinePipeline(const PipelineParams &params);

/* Frees the line buffers and the vector tables if any are held. */
void ReleaseLineBuffers();

/* Chooses LineScaler and sets the counters of their method. */
void SelectUniformRoutines();
void SelectInsertRoutines();

/* Writes as many output lines into dst as the method and dst.Count allow,
 * from the source lines in src, and reports the source lines used up and the
 * output lines written. -1: the source line at the new source position is
 * partly used and must be offered first again; 0: none is pending. Enlarging
 * with no room gives -1 and nothing done. */
int32_t ProcessChunk(const ChunkDesc &dst, const ChunkDesc &src, uint32_t &consumed,
                     uint32_t &produced);

/* One output-geometry line from one source-geometry line: a copy when the
 * pixel counts agree, else LineScaler. */
void EmitLine(uint8_t *dstLine, const uint8_t *srcLine);

#endif
