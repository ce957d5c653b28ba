/*
 * null_adapter.cpp - an adapter with no device behind it: attach does
 * nothing and every command fails with the adapter's failure status, so the
 * driver answers -1004. It is what the driver links against where no other
 * adapter is installed, and a template for writing one.
 */
#define BUSLNK_BUILDING
#include "buslnk32.h"

extern "C" BUSLNK_API uint32_t BUSLNK_CALL BusLinkExecute(CommandRecord *, TransferRecord *,
                                                          TransferRecord *)
{
    return BUSLNK_FAILURE;
}

extern "C" BUSLNK_API uint32_t BUSLNK_CALL BusLinkAttach(AttachRecord *)
{
    return BUSLNK_FAILURE;
}
