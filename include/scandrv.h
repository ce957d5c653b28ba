/*
 * scandrv.h - the public interface of the scanner driver.
 *
 * An application drives the scanner through ten functions. Nine take one
 * pointer to a parameter block that the application owns; each writes its
 * outcome into the block's dwResult (read the low 16 bits: 1 is success, a
 * negative value is one of the result codes below). vPaperReady takes nothing
 * and returns its answer.
 *
 * Blocks are packed and little-endian. Pointer fields are native pointers: on
 * 32-bit targets every offset is the documented one (checked below); on
 * 64-bit hosts pointers are 8 bytes wide and the fields behind them move.
 */
#ifndef SCANDRV_H
#define SCANDRV_H

#include <stdint.h>

#if defined(_WIN32)
#  define SCANDRV_CALL __stdcall
#  if defined(SCANDRV_BUILDING)
#    define SCANDRV_API
#  else
#    define SCANDRV_API __declspec(dllimport)
#  endif
#else
#  define SCANDRV_CALL
#  define SCANDRV_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Result codes. One line per code: name, value, what it means to a person.
 * Expand SCANDRV_RESULTS with a macro of your own to build a message table.
 */
#define SCANDRV_RESULTS(X)                                                                   \
    X(SD_OK, 1, "success")                                                                   \
    X(SD_ERR_LENS_OR_IDENTIFY, -1, "no such lens, or the scanner rejected the identify message") \
    X(SD_ERR_COMPONENT, -3, "a scanner component failed its self test")                      \
    X(SD_ERR_COMMAND_REJECTED, -100, "the scanner rejected a command, or its error report could not be read") \
    X(SD_ERR_COMPONENT_1, -200, "scanner component 1 failed")                                \
    X(SD_ERR_COMPONENT_2, -201, "scanner component 2 failed")                                \
    X(SD_ERR_COMPONENT_3, -202, "scanner component 3 failed")                                \
    X(SD_ERR_COMPONENT_4, -203, "scanner component 4 failed")                                \
    X(SD_ERR_LAMP, -204, "the scanner's lamp failed")                                        \
    X(SD_ERR_COMPONENT_6, -205, "scanner component 6 failed")                                \
    X(SD_ERR_MEDIA_LOAD, -206, "the document could not be loaded or ejected")                \
    X(SD_ERR_COMPONENT_5, -208, "scanner component 5 failed")                                \
    X(SD_ERR_END_OF_DATA, -305, "the scanner ended the image early")                         \
    X(SD_ERR_NO_COLOR, -308, "the scanner has no colour mode")                               \
    X(SD_ERR_ADAPTER_FAILURE, -501, "the SCSI adapter failed")                               \
    X(SD_ERR_COMMAND_PHASE, -600, "command phase error on the SCSI bus")                     \
    X(SD_ERR_COMMAND_SEQUENCE, -601, "the scanner received commands out of sequence")        \
    X(SD_ERR_DATA_PHASE, -602, "data phase error on the SCSI bus")                           \
    X(SD_ERR_WINDOW_COMBINATION, -700, "the scanner rejected the combination of scan windows") \
    X(SD_ERR_PARAMETER_FIELD, -701, "the scanner rejected a field of the scan parameters")   \
    X(SD_ERR_MESSAGE, -702, "invalid message on the SCSI bus")                               \
    X(SD_ERR_UNIT_NOT_SUPPORTED, -703, "the scanner does not support this logical unit")     \
    X(SD_ERR_NO_MEDIUM, -704, "no document in the scanner")                                  \
    X(SD_ERR_LIST_LENGTH, -705, "the scanner rejected the length of a parameter list")       \
    X(SD_ERR_PARAMETER_VALUE, -706, "a parameter value is invalid")                          \
    X(SD_ERR_WRITE_FAULT, -707, "the scanner reported a write fault")                        \
    X(SD_ERR_TOO_MANY_WINDOWS, -708, "too many scan windows")                                \
    X(SD_ERR_VENDOR, -709, "the scanner reported a vendor-specific error")                   \
    X(SD_ERR_HOST_INTERFACE, -710, "the scanner's host interface failed")                    \
    X(SD_ERR_NOT_SCANNING, -1003, "no scan is running, or no image buffer was given")        \
    X(SD_ERR_ADAPTER, -1004, "the command did not complete on the SCSI bus")                 \
    X(SD_ERR_NOT_A_SCANNER, -1006, "the device is not a SCSI-2 scanner")                     \
    X(SD_ERR_NO_MEMORY, -1007, "memory could not be obtained")

#define SCANDRV_RESULT_ENUM_(name, value, text) name = value,
enum ScanDrvResult { SCANDRV_RESULTS(SCANDRV_RESULT_ENUM_) };
#undef SCANDRV_RESULT_ENUM_

#pragma pack(push, 1)

/* The header every block starts with. */
#define SCANDRV_PARAM_HEADER                                                            \
    uint16_t wReserved;  /* not touched by the driver */                                \
    uint32_t dwResult;   /* out: result code in the low 16 bits (1 = success) */        \
    uint32_t dwReserved  /* not touched by the driver */

typedef struct ParamBlock {
    SCANDRV_PARAM_HEADER;
} ParamBlock;

/* vInitializeScanner */
typedef struct InitBlock {
    SCANDRV_PARAM_HEADER;
    uint16_t wAttachParam1;    /* in: first value handed to the adapter's attach */
    uint16_t wAttachParam2;    /* in: second value handed to the adapter's attach */
    uint16_t wModelValue;      /* out: 18 for model code 150, else 255 */
    uint16_t wDeviceKind;      /* out: 1, 2 or 4, plus option bits 0x20, 0x40, 0x80 */
    uint16_t wFirmwareVersion; /* out: major in the high byte, two-digit minor in the low */
    uint16_t wUnused20;        /* not written */
    uint16_t wInfo1;           /* out: 256 */
    uint16_t wInfo2;           /* out: 256 */
    uint16_t wInfo3;           /* out: 256 */
    uint16_t wInfo4;           /* out: 150 */
    uint16_t wInfo5;           /* out: 13 */
} InitBlock;

/* Option bits of ScanAttributeBlock.wFlags. */
#define SD_FLAG_SHADOW 0x0001      /* lpToneLevels shadow values are given */
#define SD_FLAG_MIDTONE 0x0002     /* midtone values are given */
#define SD_FLAG_HIGHLIGHT 0x0004   /* highlight values are given */
#define SD_FLAG_GAMMA 0x0008       /* use lpGammaTable */
#define SD_FLAG_DEFAULT 0x0020     /* set by default; clear asks the lamp for its extra setting */
#define SD_FLAG_LAMP_OPTION 0x0080 /* with some models, an extra lamp setting for non-bilevel scans */

/* Image types (wImageType). */
#define SD_IMAGE_RED 1   /* one channel: red, grey, or bilevel with wBitsPerPixel 1 */
#define SD_IMAGE_RED2 2  /* one channel taken from red */
#define SD_IMAGE_GREEN 4 /* one channel taken from green */
#define SD_IMAGE_BLUE 8  /* one channel taken from blue */
#define SD_IMAGE_COLOR 14

/* Document sources (wScanSource bits). */
#define SD_SOURCE_FLATBED 0x0001
#define SD_SOURCE_ALT1 0x0002 /* first alternative document source */
#define SD_SOURCE_ALT2 0x0004 /* second alternative document source */

/* Halftone modes (wHalftoneMode). */
#define SD_HALFTONE_THRESHOLD 1 /* line art: a fixed threshold */
#define SD_HALFTONE_BUILTIN 2   /* built-in pattern wHalftonePattern */
#define SD_HALFTONE_CALLER 4    /* the caller's pattern lpPattern */

/* vDefaultAttribute and vScannerStartScan */
typedef struct ScanAttributeBlock {
    SCANDRV_PARAM_HEADER;
    uint16_t wWidth;            /* out: defaults: maximum width in 1/1000 inch; start: delivered
                                   line width, pixels (grey, colour) or bytes (bilevel) */
    uint16_t wLength;           /* out: defaults: maximum length in 1/1000 inch; start: lines */
    int32_t lContrast[3];       /* contrast per channel, -128..127 */
    int32_t lBrightness[3];     /* brightness per channel, -128..127 */
    int32_t lAdjust[3];         /* adjustment per channel, 0..510 */
    uint16_t wImageType;        /* 14 colour; 1, 2, 4, 8 one channel (see SD_IMAGE_*) */
    uint16_t wScanSource;       /* SD_SOURCE_* bits */
    uint16_t wBitsPerPixel;     /* bits per sample: 1 bilevel, 8, or above 8 for wide samples */
    uint16_t wHalftoneMode;     /* bilevel only: SD_HALFTONE_* */
    uint16_t wHalftonePattern;  /* built-in halftone pattern, 0..11 */
    uint16_t wPatternSize;      /* side n of the caller's pattern */
    uint8_t *lpPattern;         /* the caller's n x n pattern, one byte per cell */
    uint16_t wResolution;       /* dots per inch */
    uint16_t wLeft;             /* scan area in 1/1000 inch, edges inclusive */
    uint16_t wTop;
    uint16_t wRight;
    uint16_t wBottom;
    uint16_t wReserved1;        /* default 0, not read */
    uint32_t dwReserved2;       /* default 0, not read */
    uint16_t wReserved3;        /* default 8, not read */
    uint16_t wReserved4;        /* default 1, not read */
    uint16_t wReserved5;        /* default 2, not read */
    uint16_t wFlags;            /* SD_FLAG_* bits */
    uint16_t *lpToneLevels;     /* nine values: shadow[3], midtone[3], highlight[3]; low byte used */
    uint16_t wGammaScale;       /* caller gamma table size: 4 -> 1024, 16 -> 4096,
                                   128 or 256 -> 65536 entries, else 256 */
    void *lpGammaTable;         /* one table, or red, green, blue back to back for colour;
                                   1-byte entries up to 8 bits per sample, else 2-byte */
} ScanAttributeBlock;

/* Incoming CapabilityBlock.wSources: the source whose page is read. These
 * are not the SD_SOURCE_* bits; with neither set the flatbed's page is read. */
#define SD_CAPS_PAGE_ALT2 0x0008 /* second alternative source (wins over the first) */
#define SD_CAPS_PAGE_ALT1 0x0010 /* first alternative source */
/* Incoming CapabilityBlock.wFeatures: fill wBaseResolution and
 * wMaxResolutionY, and exchange wDeviceSetting where the scanner has one. */
#define SD_CAPS_EXTENDED 0x8000

/* vScannerCapability. The fixed fields carry values the driver always
 * reports; their meaning belongs to the calling application. A block without
 * one of the three required lists is refused with SD_ERR_PARAMETER_VALUE
 * before any command, and nothing but dwResult is written. */
typedef struct CapabilityBlock {
    SCANDRV_PARAM_HEADER;
    uint16_t wFixed10;          /* out: 1 */
    uint16_t wFixed12;          /* out: 1 */
    int32_t *lpContrastList;    /* in, required (null: SD_ERR_PARAMETER_VALUE): 256 entries, filled -128..127 */
    int32_t *lpBrightnessList;  /* in, required (null: SD_ERR_PARAMETER_VALUE): 256 entries, filled -128..127 */
    uint32_t *lpAdjustList;     /* in, required (null: SD_ERR_PARAMETER_VALUE): 256 entries, filled 0, 2, ..., 510 */
    uint16_t *lpResolutionList; /* in, optional (null: skipped): 150 resolutions */
    uint16_t wMaxResolutionX;   /* out: highest bilevel resolution across the line */
    uint16_t wImageTypes;       /* out: 15 with colour, else 1 */
    uint16_t wSources;          /* in: SD_CAPS_PAGE_* names the page read; out: SD_SOURCE_* available */
    uint16_t wFixed36;          /* out: 0x8081 */
    uint16_t wFixed38;          /* out: 7 */
    uint16_t *lpPatternList;    /* in, optional (null: skipped): 12 built-in halftone patterns (size, number) */
    uint16_t wFixed44;          /* out: 8 */
    uint16_t wFixed46;          /* out: 0 */
    uint16_t wFixed48;          /* out: 1000 */
    uint16_t wMaxLength;        /* out: maximum length in 1/1000 inch */
    uint16_t wMaxWidth;         /* out: maximum width in 1/1000 inch */
    uint16_t wFixed54;          /* out: 8 */
    uint16_t wFixed56;          /* out: 31 */
    uint16_t wFixed58;          /* out: 2 */
    uint16_t wFeatures;         /* in: SD_CAPS_EXTENDED asks for the fields below; out: feature bits */
    uint16_t wFixed62;          /* out: 0x81 */
    uint16_t wBaseResolution;   /* out when asked: optical resolution */
    uint16_t wMaxResolutionY;   /* out when asked: highest bilevel resolution along the page */
    uint16_t wDeviceSetting;    /* in/out when asked and supported: 0xFFFF reads the setting */
    uint16_t wLensCount;        /* out: number of lenses */
} CapabilityBlock;

/* vScannerGetImage */
typedef struct ImageDataBlock {
    SCANDRV_PARAM_HEADER;
    uint8_t *lpImageBuffer;  /* in: room for dwRequestLines delivered lines */
    uint32_t dwRequestLines; /* in: lines wanted */
    uint32_t dwReturnLines;  /* out: lines delivered by this call */
    uint32_t dwRemainLines;  /* out: lines still to come */
} ImageDataBlock;

/* Lamp state bits (LampBlock.wLampState). */
#define SD_LAMP_1 0x0001
#define SD_LAMP_2 0x0002
#define SD_LAMP_ON_TIME_VALID 0x4000 /* out: dwLampOnTime is valid */
#define SD_LAMP_TIMER_FLAG 0x8000

/* vGetLampStatus and vSetLampStatus */
typedef struct LampBlock {
    SCANDRV_PARAM_HEADER;
    uint16_t wLampState;   /* SD_LAMP_* bits; vSetLampStatus switches on exactly the lamps set */
    uint32_t dwLampTimer;  /* lamp-off timer in seconds; sent rounded to minutes, at most 127 */
    uint32_t dwLampOnTime; /* out: minutes x 64 + seconds, with SD_LAMP_ON_TIME_VALID */
} LampBlock;

/* vScannerMutiLens. A lens the scanner does not have, or any lens of a
 * one-lens scanner, is refused with -1 (SD_ERR_LENS_OR_IDENTIFY) in the low
 * half of dwResult and 0 in the high half. */
typedef struct LensBlock {
    SCANDRV_PARAM_HEADER;
    uint16_t wLens; /* lens number, from 0 */
} LensBlock;

#pragma pack(pop)

#if UINTPTR_MAX == 0xFFFFFFFFu
#  ifdef __cplusplus
#    define SCANDRV_ASSERT_(cond, msg) static_assert(cond, msg)
#  else
#    define SCANDRV_ASSERT_(cond, msg) _Static_assert(cond, msg)
#  endif
#  define SCANDRV_AT_(type, field, off) SCANDRV_ASSERT_(offsetof(type, field) == off, #type "." #field)
#  include <stddef.h>
SCANDRV_AT_(ParamBlock, dwResult, 2);
SCANDRV_AT_(ParamBlock, dwReserved, 6);
SCANDRV_ASSERT_(sizeof(ParamBlock) == 10, "ParamBlock size");
SCANDRV_AT_(InitBlock, wAttachParam1, 10);
SCANDRV_AT_(InitBlock, wAttachParam2, 12);
SCANDRV_AT_(InitBlock, wModelValue, 14);
SCANDRV_AT_(InitBlock, wDeviceKind, 16);
SCANDRV_AT_(InitBlock, wFirmwareVersion, 18);
SCANDRV_AT_(InitBlock, wInfo1, 22);
SCANDRV_AT_(InitBlock, wInfo5, 30);
SCANDRV_AT_(ScanAttributeBlock, wWidth, 10);
SCANDRV_AT_(ScanAttributeBlock, wLength, 12);
SCANDRV_AT_(ScanAttributeBlock, lContrast, 14);
SCANDRV_AT_(ScanAttributeBlock, lBrightness, 26);
SCANDRV_AT_(ScanAttributeBlock, lAdjust, 38);
SCANDRV_AT_(ScanAttributeBlock, wImageType, 50);
SCANDRV_AT_(ScanAttributeBlock, wScanSource, 52);
SCANDRV_AT_(ScanAttributeBlock, wBitsPerPixel, 54);
SCANDRV_AT_(ScanAttributeBlock, wHalftoneMode, 56);
SCANDRV_AT_(ScanAttributeBlock, wHalftonePattern, 58);
SCANDRV_AT_(ScanAttributeBlock, wPatternSize, 60);
SCANDRV_AT_(ScanAttributeBlock, lpPattern, 62);
SCANDRV_AT_(ScanAttributeBlock, wResolution, 66);
SCANDRV_AT_(ScanAttributeBlock, wLeft, 68);
SCANDRV_AT_(ScanAttributeBlock, wTop, 70);
SCANDRV_AT_(ScanAttributeBlock, wRight, 72);
SCANDRV_AT_(ScanAttributeBlock, wBottom, 74);
SCANDRV_AT_(ScanAttributeBlock, wReserved1, 76);
SCANDRV_AT_(ScanAttributeBlock, dwReserved2, 78);
SCANDRV_AT_(ScanAttributeBlock, wReserved3, 82);
SCANDRV_AT_(ScanAttributeBlock, wReserved4, 84);
SCANDRV_AT_(ScanAttributeBlock, wReserved5, 86);
SCANDRV_AT_(ScanAttributeBlock, wFlags, 88);
SCANDRV_AT_(ScanAttributeBlock, lpToneLevels, 90);
SCANDRV_AT_(ScanAttributeBlock, wGammaScale, 94);
SCANDRV_AT_(ScanAttributeBlock, lpGammaTable, 96);
SCANDRV_ASSERT_(sizeof(ScanAttributeBlock) == 100, "ScanAttributeBlock size");
SCANDRV_AT_(CapabilityBlock, wFixed10, 10);
SCANDRV_AT_(CapabilityBlock, wFixed12, 12);
SCANDRV_AT_(CapabilityBlock, lpContrastList, 14);
SCANDRV_AT_(CapabilityBlock, lpBrightnessList, 18);
SCANDRV_AT_(CapabilityBlock, lpAdjustList, 22);
SCANDRV_AT_(CapabilityBlock, lpResolutionList, 26);
SCANDRV_AT_(CapabilityBlock, wMaxResolutionX, 30);
SCANDRV_AT_(CapabilityBlock, wImageTypes, 32);
SCANDRV_AT_(CapabilityBlock, wSources, 34);
SCANDRV_AT_(CapabilityBlock, wFixed36, 36);
SCANDRV_AT_(CapabilityBlock, wFixed38, 38);
SCANDRV_AT_(CapabilityBlock, lpPatternList, 40);
SCANDRV_AT_(CapabilityBlock, wFixed44, 44);
SCANDRV_AT_(CapabilityBlock, wFixed46, 46);
SCANDRV_AT_(CapabilityBlock, wFixed48, 48);
SCANDRV_AT_(CapabilityBlock, wMaxLength, 50);
SCANDRV_AT_(CapabilityBlock, wMaxWidth, 52);
SCANDRV_AT_(CapabilityBlock, wFixed54, 54);
SCANDRV_AT_(CapabilityBlock, wFixed56, 56);
SCANDRV_AT_(CapabilityBlock, wFixed58, 58);
SCANDRV_AT_(CapabilityBlock, wFeatures, 60);
SCANDRV_AT_(CapabilityBlock, wFixed62, 62);
SCANDRV_AT_(CapabilityBlock, wBaseResolution, 64);
SCANDRV_AT_(CapabilityBlock, wMaxResolutionY, 66);
SCANDRV_AT_(CapabilityBlock, wDeviceSetting, 68);
SCANDRV_AT_(CapabilityBlock, wLensCount, 70);
SCANDRV_ASSERT_(sizeof(CapabilityBlock) == 72, "CapabilityBlock size");
SCANDRV_AT_(ImageDataBlock, lpImageBuffer, 10);
SCANDRV_AT_(ImageDataBlock, dwRequestLines, 14);
SCANDRV_AT_(ImageDataBlock, dwReturnLines, 18);
SCANDRV_AT_(ImageDataBlock, dwRemainLines, 22);
SCANDRV_ASSERT_(sizeof(ImageDataBlock) == 26, "ImageDataBlock size");
SCANDRV_AT_(LampBlock, wLampState, 10);
SCANDRV_AT_(LampBlock, dwLampTimer, 12);
SCANDRV_AT_(LampBlock, dwLampOnTime, 16);
SCANDRV_ASSERT_(sizeof(LampBlock) == 20, "LampBlock size");
SCANDRV_AT_(LensBlock, wLens, 10);
SCANDRV_ASSERT_(sizeof(LensBlock) == 12, "LensBlock size");
#  undef SCANDRV_AT_
#  undef SCANDRV_ASSERT_
#endif

/* The ten exports (ordinals 2 to 11 on Windows). A null block pointer is
 * ignored: nothing is sent and nothing written. vDefaultAttribute and
 * vScannerCapability refuse a scanner that reports a base resolution of 0
 * with SD_ERR_PARAMETER_VALUE, writing nothing but dwResult. */
SCANDRV_API void SCANDRV_CALL vInitializeScanner(InitBlock *lpBlock);
SCANDRV_API void SCANDRV_CALL vScannerCapability(CapabilityBlock *lpBlock);
SCANDRV_API void SCANDRV_CALL vDefaultAttribute(ScanAttributeBlock *lpBlock);
SCANDRV_API void SCANDRV_CALL vScannerStartScan(ScanAttributeBlock *lpBlock);
SCANDRV_API void SCANDRV_CALL vScannerGetImage(ImageDataBlock *lpBlock);
SCANDRV_API void SCANDRV_CALL vScannerAbortScan(ParamBlock *lpBlock);
/* 200 while a scan runs; 0 when the scanner is busy; -1 on any other failure;
 * otherwise bits 0-6 a document-present counter and bits 9-16 a pending event. */
SCANDRV_API int32_t SCANDRV_CALL vPaperReady(void);
SCANDRV_API void SCANDRV_CALL vScannerMutiLens(LensBlock *lpBlock);
SCANDRV_API void SCANDRV_CALL vGetLampStatus(LampBlock *lpBlock);
SCANDRV_API void SCANDRV_CALL vSetLampStatus(LampBlock *lpBlock);

#ifdef __cplusplus
}
#endif

#endif /* SCANDRV_H */
