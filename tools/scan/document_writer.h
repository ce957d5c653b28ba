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
#include <vector>

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

/* The part both documents share: a page's lines are gathered as they come
 * and handed whole to StorePage once the last one is in. */
class BufferedDocumentWriter : public DocumentWriter {
public:
    bool BeginPage(const ImageInfo &page, std::string &error) override
    {
        if (!Accepts(page, error))
            return false;
        Page = page;
        Lines.clear();
        Lines.reserve(LineBytes(page) * page.Height);
        Written = 0;
        InPage = true;
        return true;
    }

    bool WriteLines(const uint8_t *lines, uint32_t count, std::string &error) override
    {
        if (!InPage || Written + count > Page.Height) {
            error = "more lines than the page holds";
            return false;
        }
        Lines.insert(Lines.end(), lines, lines + LineBytes(Page) * count);
        Written += count;
        return true;
    }

    bool EndPage(std::string &error) override
    {
        if (!InPage || Written != Page.Height) {
            error = "the page is incomplete: " + std::to_string(Written) + " of " + std::to_string(Page.Height) +
                    " lines";
            return false;
        }
        InPage = false;
        bool stored = StorePage(error);
        std::vector<uint8_t>().swap(Lines);
        return stored;
    }

    void AbandonPage() override
    {
        InPage = false;
        std::vector<uint8_t>().swap(Lines);
    }

protected:
    /* Puts the complete page (Page, Lines) into the document. */
    virtual bool StorePage(std::string &error) = 0;

    ImageInfo Page;
    std::vector<uint8_t> Lines; /* the page being scanned */

private:
    bool InPage = false;
    uint32_t Written = 0; /* its lines so far */
};

/* jpegQuality 0: grey and colour pages compressed losslessly (Flate);
 * 1-100: as JPEG of that quality. Bilevel pages are always CCITT Group 4. */
std::unique_ptr<DocumentWriter> CreatePdfWriter(int jpegQuality);
/* A TIFF with one directory per page: Group 4 for bilevel pages, Deflate
 * with the horizontal predictor for grey and colour. */
std::unique_ptr<DocumentWriter> CreateTiffPagesWriter();

#endif
