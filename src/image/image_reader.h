/*
 * image_reader.h - the machinery behind vScannerGetImage: the transfer
 * buffer, raw line reads with the scanner's early end, colour segment
 * pairing, and the end-of-transfer clean-up shared with the abort.
 */
#ifndef SCANDRV_IMAGE_READER_H
#define SCANDRV_IMAGE_READER_H

#include "scsi/result.h"
#include "transfer_state.h"

#include <cstdint>

/* Chooses direct transfer when nothing has to change, otherwise takes the
 * transfer buffer for the first request of `requestLines` lines, and picks
 * the routines that feed and deliver lines for this scan. Returns SD_OK,
 * SD_ERR_NO_MEMORY, or SD_ERR_PARAMETER_VALUE for a geometry the buffer
 * cannot serve. */
ResultCode SetupTransferBuffer(uint16_t requestLines);

/* Reads up to `lines` raw lines into `destination` with one READ, handling an
 * early end of the image; mirrors them for a far-edge origin. Sets
 * RawAvailable to the lines read. */
ResultCode ReadRawLinesInto(uint8_t *destination, uint32_t lines);

/* Buffered transfer: fills the free part of the raw area and, for tagged
 * colour, indexes the segments. */
ResultCode ReadRawLines();

/* Tagged colour: the offsets of every segment in the raw area, per colour. */
void IndexColorSegments();

/* Colour: makes ColorLine from the next complete colour line. False when no
 * complete colour line is left in the raw area. */
bool AssembleColorLine();

/* Releases the transfer buffer and the line buffers and ends the scan. */
void EndTransfer();

/* Feeds the pipeline and hands delivered lines to the caller's buffer until
 * CallLines lines are delivered or no more will come. Returns SD_OK or the
 * failing READ's code; `delivered` counts the lines written. */
ResultCode DeliverBufferedLines(uint32_t &delivered);

#endif
