/*
 * vertical.cpp - ProcessChunk and the vertical work behind it: which source
 * lines make which output line, blending where the method asks for it and
 * dropping lines when there are more source lines than output lines. Every
 * line leaves through EmitLine and so through the horizontal routine.
 *
 * Blends run sample by sample over whole lines, in bytes or 16-bit words by
 * the template's sample type; grey and colour lines are alike to them. The
 * uniform blend goes through LineBlend, plain or vector as the set-up chose.
 * Below, S = SrcLines and R = DstLines. Nothing here allocates: the two line
 * buffers come from the set-up.
 */
#include "vertical.h"

#include "sample_ops.h"

#include <cstring>

namespace {

LinePipelineRecord &Pipe = LinePipeline;

uint32_t Smaller(uint32_t a, uint32_t b)
{
    return a < b ? a : b;
}

/* out[i] = (prev[i] x pw + cur[i] x cw) / sum, truncated, for count samples. */
template <typename Sample>
void WeighLines(uint8_t *out, const uint8_t *prev, const uint8_t *cur, uint32_t count, uint32_t pw,
                uint32_t cw, uint32_t sum)
{
    const ExactDivider bySum = MakeDivider(sum);
    for (uint32_t i = 0; i < count; ++i)
        StoreSample<Sample>(out, i, Divide(LoadSample<Sample>(prev, i) * pw + LoadSample<Sample>(cur, i) * cw, bySum));
}

template <typename Sample> uint32_t SourceSamples()
{
    return Pipe.SrcLineBytes / sizeof(Sample);
}

/* Fills PrevLine with the line before the first source line. Colour takes a
 * copy of the first line; grey continues the step from the second line to
 * the first. When the chunk offers a single line (or the scan has only one)
 * the first line stands in for the second, so nothing past the offered lines
 * is read; the extrapolated line then equals the first. */
template <typename Sample> void PreparePrevLine(const ChunkDesc &src)
{
    const uint8_t *first = src.Lines;
    if (Pipe.Color) {
        std::memcpy(Pipe.PrevLine, first, Pipe.SrcLineBytes);
        return;
    }
    const uint8_t *second = src.Count > 1 && Pipe.SrcLines > 1 ? first + Pipe.SrcLineBytes : first;
    const uint32_t limit = ExtrapolationLimit<Sample>();
    const uint32_t pixels = Pipe.SrcPixels;
    uint8_t *prevLine = Pipe.PrevLine;
    for (uint32_t i = 0; i < pixels; ++i)
        StoreSample<Sample>(prevLine, i,
                            ExtrapolateSample(LoadSample<Sample>(first, i), LoadSample<Sample>(second, i), limit));
}

/* Builds the next output line of a uniform enlargement in WorkLine, in source
 * geometry: line blended with PrevLine at LineTarget / R. Returns 0 when line
 * is used up (it becomes PrevLine), 1 when the next output line needs it too. */
template <typename Sample> int UniformExpandLine(const uint8_t *line)
{
    const uint32_t count = SourceSamples<Sample>();
    if (Pipe.LineTarget == Pipe.DstLines)
        std::memcpy(Pipe.WorkLine, line, count * sizeof(Sample));
    else
        Pipe.LineBlend(Pipe.WorkLine, Pipe.PrevLine, line, count, Pipe.LineTarget, Pipe.DstLines);
    Pipe.LineTarget += Pipe.SrcLines;
    --Pipe.LinePhase;
    if (Pipe.LineTarget > Pipe.DstLines) {
        Pipe.LineTarget -= Pipe.DstLines;
        std::memcpy(Pipe.PrevLine, line, Pipe.SrcLineBytes);
        return 0;
    }
    return 1;
}

/* One output line of a uniform reduction at output position out, source line
 * at position pos: the line scaled across, blended with PrevLine (the line
 * before, already scaled) at w = out + R - pos, which lies in 1..R. At w = R
 * the output line is the source line scaled across, made in place. */
template <typename Sample> void UniformReduceLine(uint32_t out, uint32_t pos, uint8_t *dstLine, const uint8_t *srcLine)
{
    const uint32_t w = out + Pipe.DstLines - pos;
    const uint32_t count = Pipe.DstPixels * (Pipe.Color ? 3 : 1);
    if (w == Pipe.DstLines) {
        if (Pipe.LineScaler)
            Pipe.LineScaler(dstLine, srcLine);
        else
            std::memcpy(dstLine, srcLine, count * sizeof(Sample));
        return;
    }
    EmitLine(Pipe.WorkLine, srcLine);
    Pipe.LineBlend(dstLine, Pipe.PrevLine, Pipe.WorkLine, count, w, Pipe.DstLines);
}

/* Builds the next output line of an insert enlargement in WorkLine. A source
 * line that receives n inserted lines yields, over n + 1 calls, the blends
 * n : 1, n - 1 : 2, ... 1 : n of PrevLine and line, then line itself. The
 * share of the R - S inserted lines is spread like the horizontal insert. */
template <typename Sample> int InsertExpandLine(const uint8_t *line)
{
    if (Pipe.InsertLeft == 0xFFFFFFFFu) {
        const uint32_t t = Pipe.LinePhase + Pipe.LineTarget;
        const uint32_t n = t / Pipe.SrcLines;
        Pipe.LinePhase = t % Pipe.SrcLines;
        Pipe.InsertLeft = n;
        Pipe.PrevWeight = n;
        Pipe.CurWeight = 1;
        Pipe.WeightSum = n + 1;
    }
    --Pipe.InsertLeft;
    if (Pipe.PrevWeight == 0) {
        std::memcpy(Pipe.WorkLine, line, Pipe.SrcLineBytes);
        std::memcpy(Pipe.PrevLine, line, Pipe.SrcLineBytes);
        return 0;
    }
    WeighLines<Sample>(Pipe.WorkLine, Pipe.PrevLine, line, SourceSamples<Sample>(), Pipe.PrevWeight,
                       Pipe.CurWeight, Pipe.WeightSum);
    ++Pipe.CurWeight;
    --Pipe.PrevWeight;
    return 1;
}

/* R = S: every source line makes one output line. */
int32_t CopyChunk(const ChunkDesc &dst, const ChunkDesc &src, uint32_t room, uint32_t &consumed,
                  uint32_t &produced)
{
    const uint32_t n = Smaller(src.Count, room);
    for (uint32_t j = 0; j < n; ++j)
        EmitLine(dst.Lines + j * Pipe.DstLineBytes, src.Lines + j * Pipe.SrcLineBytes);
    consumed = produced = n;
    return 0;
}

/* Uniform, R > S. LinePhase counts the output lines not yet made, LineTarget
 * is the blend numerator (1..R). The last source line is never counted as
 * consumed by the blending loop: it stays current for every output line left. */
template <typename Sample>
int32_t UniformEnlarge(const ChunkDesc &dst, const ChunkDesc &src, uint32_t room, uint32_t &consumed,
                       uint32_t &produced)
{
    /* No room: the algorithm would make the last line anyway when one is due;
     * writing beyond the room the caller gave is never right, so nothing is done. */
    if (room == 0 || src.Count == 0)
        return -1;
    if (Pipe.FirstLine) {
        PreparePrevLine<Sample>(src);
        Pipe.FirstLine = 0;
    }
    if (Pipe.LinePhase == 1) {
        EmitLine(dst.Lines, src.Lines);
        Pipe.LinePhase = 0;
        consumed = produced = 1;
        return 0;
    }
    uint8_t *out = dst.Lines;
    const uint8_t *line = src.Lines;
    int r;
    do {
        r = UniformExpandLine<Sample>(line);
        EmitLine(out, Pipe.WorkLine);
        ++produced;
        out += Pipe.DstLineBytes;
        if (r == 0 && Pipe.SrcLinesLeft > 1) {
            ++consumed;
            --Pipe.SrcLinesLeft;
            if (consumed >= src.Count)
                return 0;
            line += Pipe.SrcLineBytes;
        }
    } while (produced < room);
    return r ? -1 : 0;
}

/* Uniform, R < S. Positions in a unit where a source line is R long and an
 * output line S long: LinePhase is the source position, LineTarget the
 * output position. PrevLine holds the line before, scaled across, whenever
 * the next output line falls between it and the current one; one that falls
 * on the next line itself does not blend, so then none is made. */
template <typename Sample>
int32_t UniformReduce(const ChunkDesc &dst, const ChunkDesc &src, uint32_t room, uint32_t &consumed,
                      uint32_t &produced)
{
    uint32_t out = Pipe.LineTarget;
    uint32_t pos = Pipe.LinePhase;
    uint8_t *outLine = dst.Lines;
    const uint8_t *line = src.Lines;
    while (consumed < src.Count && produced < room) {
        if (out <= pos) {
            UniformReduceLine<Sample>(out, pos, outLine, line);
            ++produced;
            outLine += Pipe.DstLineBytes;
            out += Pipe.SrcLines;
        }
        pos += Pipe.DstLines;
        if (out < pos)
            EmitLine(Pipe.PrevLine, line);
        line += Pipe.SrcLineBytes;
        ++consumed;
    }
    Pipe.LineTarget = out;
    Pipe.LinePhase = pos;
    return 0;
}

/* Insert-and-drop, R > S. */
template <typename Sample>
int32_t InsertEnlarge(const ChunkDesc &dst, const ChunkDesc &src, uint32_t room, uint32_t &consumed,
                      uint32_t &produced)
{
    if (room == 0 || src.Count == 0)
        return -1;
    if (Pipe.FirstLine) {
        PreparePrevLine<Sample>(src);
        Pipe.FirstLine = 0;
    }
    uint8_t *out = dst.Lines;
    const uint8_t *line = src.Lines;
    int r;
    do {
        r = InsertExpandLine<Sample>(line);
        EmitLine(out, Pipe.WorkLine);
        ++produced;
        out += Pipe.DstLineBytes;
        if (r == 0) {
            ++consumed;
            if (consumed >= src.Count)
                return 0;
            line += Pipe.SrcLineBytes;
        }
    } while (produced < room);
    return r ? -1 : 0;
}

/* Insert-and-drop, R < S: LinePhase is the drop accumulator. Source line j
 * is kept when a multiple of S lies in (j x R, (j + 1) x R], so the last
 * source line is always kept. */
int32_t DropChunk(const ChunkDesc &dst, const ChunkDesc &src, uint32_t room, uint32_t &consumed,
                  uint32_t &produced)
{
    uint32_t acc = Pipe.LinePhase;
    uint8_t *out = dst.Lines;
    const uint8_t *line = src.Lines;
    while (consumed < src.Count && produced < room) {
        if (acc >= Pipe.SrcLines)
            acc -= Pipe.SrcLines;
        if (acc < Pipe.DstLines) {
            EmitLine(out, line);
            ++produced;
            out += Pipe.DstLineBytes;
        }
        acc += Pipe.DstLines;
        line += Pipe.SrcLineBytes;
        ++consumed;
    }
    Pipe.LinePhase = acc;
    return 0;
}

typedef int32_t (*DirectionFn)(const ChunkDesc &, const ChunkDesc &, uint32_t, uint32_t &, uint32_t &);

/* What both methods share: the room is cut to the output lines the scan still
 * owes, so a caller asking for more than DstLines gets no more. Once all are
 * made, offered source lines are taken without effect, so a caller feeding
 * more than SrcLines still moves on. */
int32_t RunChunk(const ChunkDesc &dst, const ChunkDesc &src, uint32_t &consumed, uint32_t &produced,
                 DirectionFn enlarge, DirectionFn reduce)
{
    consumed = produced = 0;
    if (Pipe.OutputLinesLeft == 0) {
        consumed = src.Count;
        return 0;
    }
    const uint32_t room = Smaller(dst.Count, Pipe.OutputLinesLeft);
    int32_t result;
    if (Pipe.DstLines == Pipe.SrcLines)
        result = CopyChunk(dst, src, room, consumed, produced);
    else if (Pipe.DstLines > Pipe.SrcLines)
        result = enlarge(dst, src, room, consumed, produced);
    else
        result = reduce(dst, src, room, consumed, produced);
    Pipe.OutputLinesLeft -= produced;
    return result;
}

} // namespace

/*
 * With D = 2^bits and shift = bits + ceil(log2 n), D x n <= 2^shift. Writing
 * m x n = w x 2^shift + e with 0 <= e < n, for a difference d < D
 * d x m / 2^shift = d x w / n + d x e / (n x 2^shift); d x e < D x n <= 2^shift
 * keeps the excess below 1 / n, and d x w / n lies at least 1 / n below the
 * next whole number, so both have the same whole part. With w < n, m < 2^shift:
 * d x m < 2^32 for bytes (shift <= 24) and m < 2^32 for words (shift <= 32,
 * products in 64 bits). n = 1 has no w below it and never comes here.
 */
uint32_t WeightShift(uint32_t n, uint32_t bits)
{
    uint32_t l = 0;
    while ((uint64_t{1} << l) < n)
        ++l;
    return bits + l;
}

uint32_t WeightMultiplier(uint32_t w, uint32_t n, uint32_t shift)
{
    return static_cast<uint32_t>(((uint64_t{w} << shift) + n - 1) / n);
}

/* out[i] = prev[i] blended toward cur[i] by w/n, for count samples (w < n). */
template <typename Sample>
void BlendLines(uint8_t *out, const uint8_t *prev, const uint8_t *cur, uint32_t count, uint32_t w, uint32_t n)
{
    const ExactDivider byN = MakeDivider(n);
    for (uint32_t i = 0; i < count; ++i)
        StoreSample<Sample>(out, i,
                            InterpolateDivided(LoadSample<Sample>(prev, i), LoadSample<Sample>(cur, i), w, byN));
}

template void BlendLines<uint8_t>(uint8_t *, const uint8_t *, const uint8_t *, uint32_t, uint32_t, uint32_t);
template void BlendLines<uint16_t>(uint8_t *, const uint8_t *, const uint8_t *, uint32_t, uint32_t, uint32_t);

void EmitLine(uint8_t *dstLine, const uint8_t *srcLine)
{
    /* The set-up leaves LineScaler null exactly when the pixel counts agree. */
    if (Pipe.LineScaler)
        Pipe.LineScaler(dstLine, srcLine);
    else
        std::memcpy(dstLine, srcLine, Pipe.DstLineBytes);
}

template <typename Sample>
int32_t UniformChunk(const ChunkDesc &dst, const ChunkDesc &src, uint32_t &consumed, uint32_t &produced)
{
    return RunChunk(dst, src, consumed, produced, UniformEnlarge<Sample>, UniformReduce<Sample>);
}

template <typename Sample>
int32_t InsertChunk(const ChunkDesc &dst, const ChunkDesc &src, uint32_t &consumed, uint32_t &produced)
{
    return RunChunk(dst, src, consumed, produced, InsertEnlarge<Sample>, DropChunk);
}

SCANDRV_CHUNK_WIDTHS(, UniformChunk)
SCANDRV_CHUNK_WIDTHS(, InsertChunk)

int32_t ProcessChunk(const ChunkDesc &dst, const ChunkDesc &src, uint32_t &consumed, uint32_t &produced)
{
    /* A set-up that could not get its line buffers leaves no routine: lines
     * never flow through a pipeline without its buffers. */
    if (!Pipe.ChunkRoutine) {
        consumed = produced = 0;
        return 0;
    }
    return Pipe.ChunkRoutine(dst, src, consumed, produced);
}
