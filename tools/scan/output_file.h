/*
 * output_file.h - where an image is written: a temporary file beside the
 * requested one, renamed over it only once the image is complete, so a
 * failed or interrupted scan never leaves a truncated image under the
 * requested name. Standard output is written directly.
 */
#ifndef SCAN_OUTPUT_FILE_H
#define SCAN_OUTPUT_FILE_H

#include <cstdio>
#include <string>

struct OutputFile {
    std::string FinalPath; /* empty: standard output */
    std::string TempPath;  /* the file being written; empty for standard output */
    FILE *Stream = nullptr;
};

/* Opens a temporary file in the directory of path (standard output when
 * path is empty). */
bool OpenOutput(const std::string &path, OutputFile &out, std::string &error);

/* Flushes and closes the temporary file, gives it the permissions a new
 * file gets (0666 less the umask), and renames it to the final name. */
bool CommitOutput(OutputFile &out, std::string &error);

/* Closes and removes the temporary file; harmless when nothing is open. */
void DiscardOutput(OutputFile &out);

/* Whether the stream can seek (a regular file can, a pipe cannot). */
bool IsSeekable(FILE *stream);

#endif
