/*
 * buslnk32.h - the adapter interface between the scanner driver and the bus.
 *
 * An adapter library executes one SCSI command at a time for the driver. On
 * Windows it is BUSLNK32.DLL and the driver imports it by ordinal only
 * (2 = execute, 3 = attach); elsewhere it is libbuslnk32.so.1 exporting the
 * same two entry points by name. Several adapters exist (the virtual scanner,
 * real hardware); an application picks one by loading it before the driver.
 *
 * The records are packed. Pointer fields are native pointers: four bytes on
 * 32-bit targets, where the layout is exactly the driver's historical one.
 */
#ifndef BUSLNK32_H
#define BUSLNK32_H

#include <stdint.h>

#if defined(_WIN32)
#  define BUSLNK_CALL __stdcall
#  if defined(BUSLNK_BUILDING)
#    define BUSLNK_API __declspec(dllexport)
#  else
#    define BUSLNK_API __declspec(dllimport)
#  endif
#else
#  define BUSLNK_CALL
#  define BUSLNK_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

#pragma pack(push, 1)

/* One SCSI command: the CDB and how long the adapter may take over it. */
typedef struct CommandRecord {
    uint16_t wTimeout;   /* seconds the command may take: 1, 10, 30 or 60 */
    uint16_t wCdbLength; /* 6 or 10 */
    uint8_t *lpCdb;      /* the command descriptor block */
} CommandRecord;

/* One data phase. A count of 0 means this direction carries no data. */
typedef struct TransferRecord {
    uint32_t dwCount; /* bytes to move */
    void *lpBuffer;   /* where they come from or go to */
} TransferRecord;

/* What the driver hands to attach: which device the adapter should address.
 * The driver always sends wKind 7 and wVersion 1; the two attach values come
 * from the application (host adapter and target id for real hardware, the
 * simulated model for the virtual scanner). */
typedef struct AttachRecord {
    uint16_t wKind;         /* always 7 */
    uint16_t wAttachParam2; /* second caller value */
    uint16_t wAttachParam1; /* first caller value */
    uint16_t wVersion;      /* always 1 */
} AttachRecord;

#pragma pack(pop)

/* Status words of BusLinkExecute; the driver looks at the low 16 bits only. */
enum {
    BUSLNK_GOOD = 0,            /* command completed */
    BUSLNK_CHECK_CONDITION = 1, /* sense data waits for REQUEST SENSE */
    BUSLNK_FAILURE = 2,         /* the command did not complete */
    BUSLNK_BUSY = 3,            /* device busy: try the same command again */
    BUSLNK_ADAPTER_FAILURE = 24 /* the adapter itself failed */
};

/* Ordinal 2: execute one command. For a read, dataIn carries {length, buffer}
 * and dataOut a count of 0; for a send the other way round; for a command
 * without data both counts are 0. Synchronous: a read buffer is filled when
 * the call returns. */
BUSLNK_API uint32_t BUSLNK_CALL BusLinkExecute(CommandRecord *command,
                                               TransferRecord *dataIn,
                                               TransferRecord *dataOut);

/* Ordinal 3: attach the device the record names. The driver does not look at
 * the result; the INQUIRY that follows shows whether a device answers. */
BUSLNK_API uint32_t BUSLNK_CALL BusLinkAttach(AttachRecord *attach);

#ifdef __cplusplus
}
#endif

#endif /* BUSLNK32_H */
