/*
 * messages.h - the driver's result codes in words, for people. The table is
 * built from the header's one list of codes, so a code added there has a
 * message here at once; a few common codes get wordings that say what to do.
 */
#ifndef SCAN_MESSAGES_H
#define SCAN_MESSAGES_H

#include <cstdint>
#include <string>

/* The result code in a block's dwResult: the low 16 bits, signed. */
int ResultCodeOf(uint32_t dwResult);

/* The code's name from the header (SD_ERR_ADAPTER), or null for a code the
 * header does not list. */
const char *ResultName(int code);

/* What the code means to the person at the terminal, without the number. */
std::string ResultMessage(int code);

/* "<what failed>: <message> (result <code>)", the form every driver failure
 * is reported in. */
std::string DescribeFailure(const std::string &what, int code);

#endif
