/*
 * document_writer.h - one file for a whole batch of pages: a PDF with a
 * page per scan (pdf_writer.cpp) or a TIFF with a directory per scan
 * (tiff_pages.cpp). A page is begun, filled with lines as the driver
 * delivers them and ended; the file holds every ended page once the
 * document is finished. A page that fails half-way is abandoned and leaves
 * nothing behind, so a batch that stops at page k still gives a valid
 * document of pages 1 to k-1. Pages come as ImageWriter's lines do.
 */
#ifndef SCAN_DOCUMENT_WRITER_H
#define SCAN_DOCUMENT_WRITER_H

#include "image_writer.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

class DocumentWriter {
public:
    virtual ~DocumentWriter() = default;
    /* Starts the document in file, open for writing and empty; the file
     * stays the caller's to close. */
    virtual bool Begin(FILE *file, std::string &error) = 0;
    /* Whether a page of this kind can go into the document; false with the
     * reason (checked before a scan starts, and again by BeginPage). */
    virtual bool Accepts(const ImageInfo &page, std::string &error) const = 0;
    virtual bool BeginPage(const ImageInfo &page, std::string &error) = 0;
    virtual bool WriteLines(const uint8_t *lines, uint32_t count, std::string &error) = 0;
    /* Adds the page once all its lines are written. */
    virtual bool EndPage(std::string &error) = 0;
    /* Forgets the page begun and not ended. */
    virtual void AbandonPage() = 0;
    /* Completes the document with the pages ended so far and flushes the
     * file. */
    virtual bool Finish(std::string &error) = 0;
    /* Pages ended so far. */
    virtual unsigned Pages() const = 0;
};

/* jpegQuality 0: grey and colour pages compressed losslessly (Flate);
 * 1-100: as JPEG of that quality. Bilevel pages are always CCITT Group 4. */
std::unique_ptr<DocumentWriter> CreatePdfWriter(int jpegQuality);
/* A TIFF with one directory per page: Group 4 for bilevel pages, Deflate
 * with the horizontal predictor for grey and colour. */
std::unique_ptr<DocumentWriter> CreateTiffPagesWriter();

#endif
