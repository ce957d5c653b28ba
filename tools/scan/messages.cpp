/*
 * messages.cpp - result code texts. Every code of SCANDRV_RESULTS has its
 * header message; the codes people meet most often are reworded here to
 * say what is wrong in their terms. Codes the header does not list (adapter
 * statuses passed through) are reported by number.
 */
#include "messages.h"

#include "scandrv.h"

namespace {

struct ResultText {
    int Code;
    const char *Name;
    const char *Text;
};

#define SCAN_RESULT_ROW_(name, value, text) {value, #name, text},
const ResultText kResultTexts[] = {SCANDRV_RESULTS(SCAN_RESULT_ROW_)};
#undef SCAN_RESULT_ROW_

/* Wordings for the codes a person is likely to see, in place of the header's
 * more technical ones. */
const ResultText kPlainWords[] = {
    {SD_ERR_ADAPTER, nullptr, "the scanner does not answer (is it switched on and attached?)"},
    {SD_ERR_NO_COLOR, nullptr, "the scanner has no colour mode"},
    {SD_ERR_NO_MEDIUM, nullptr, "there is no document in the scanner"},
    {SD_ERR_LAMP, nullptr, "the scanner's lamp failed"},
    {SD_ERR_NOT_A_SCANNER, nullptr, "the device is not a scanner this driver supports"},
    {SD_ERR_NO_MEMORY, nullptr, "the driver could not get the memory it needs"},
    {SD_ERR_NOT_SCANNING, nullptr, "no scan is running"},
    {SD_ERR_LENS_OR_IDENTIFY, nullptr, "the scanner has no such lens, or rejected the identify message"},
    {SD_ERR_PARAMETER_VALUE, nullptr, "the scanner or the driver refused a setting"},
    {SD_ERR_MEDIA_LOAD, nullptr, "the document could not be loaded or ejected (paper jam?)"},
};

} // namespace

int ResultCodeOf(uint32_t dwResult)
{
    return static_cast<int16_t>(static_cast<uint16_t>(dwResult & 0xFFFF));
}

const char *ResultName(int code)
{
    for (const ResultText &row : kResultTexts)
        if (row.Code == code)
            return row.Name;
    return nullptr;
}

std::string ResultMessage(int code)
{
    for (const ResultText &row : kPlainWords)
        if (row.Code == code)
            return row.Text;
    for (const ResultText &row : kResultTexts)
        if (row.Code == code)
            return row.Text;
    return "the driver reported an unknown result";
}

std::string DescribeFailure(const std::string &what, int code)
{
    return what + ": " + ResultMessage(code) + " (result " + std::to_string(code) + ")";
}
