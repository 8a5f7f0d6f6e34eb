/*
 * The QM service API: the functions and records through which an application
 * (the manager itself, or a POS back-end that links libqmsdk.so) drives the
 * radio link to the handheld terminals.
 *
 * All records are packed and little-endian; their sizes are fixed because both
 * sides copy and clear them as whole blocks. A window handle crosses the API
 * as a void* holding the handle's number. Results: 1 for success, 0 for
 * failure; nothing is thrown.
 */
#ifndef QM_SERVICE_QMSDK_H
#define QM_SERVICE_QMSDK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define QM_API __attribute__((visibility("default")))

/* Window messages exchanged by the service, the manager and the back-end. */
#define WM_TRAY_NOTIFY 1025      /* 0x401: tray icon -> main window */
#define WM_POS_NOTICE 1280       /* 0x500: manager <-> back-end notices */
#define WM_REQUEST_RECEIVED 1536 /* 0x600: link -> main window, a request is complete */

/*
 * WM_REQUEST_RECEIVED: wParam is the address of the request's _REQUESTRECORD
 * and lParam the address of its bytes (record.length of them), both in the
 * memory of the process that called SDKInit. A program that links the
 * service gets the notice at the window it gave to SDKInit, as a 24-byte
 * datagram on the window socket it binds itself, and reads the record and
 * bytes at those addresses in its own process. They stay valid until
 * QM_KEPT_REQUEST_NOTICES further request notices have been sent to it;
 * SDKDeInit does not release them. Copy what is needed before then. While
 * the window's socket is full, notices wait in order (up to 4096) and are
 * sent as it takes them again; those still waiting at SDKDeInit are dropped
 * and counted in the log.
 */
#define QM_KEPT_REQUEST_NOTICES 256

/* Notice codes carried in lParam of WM_POS_NOTICE besides host ids 1..8. */
#define QM_NOTICE_SHORT_MESSAGE 0
#define QM_NOTICE_LOGON 10
#define QM_NOTICE_DATA_READY 11
#define QM_NOTICE_OPEN_DOWNLOAD 12

#define QM_MAX_STATIONS 8
#define QM_MAX_TERMINALS 200

#pragma pack(push, 1)

/* One configured base station. */
typedef struct _DEVINFO {
    uint8_t hostId;        /* 0..8; an entry above 8 is skipped by the link */
    char portName[6];      /* "COM3"; NUL-terminated when shorter than 6 */
    uint8_t dcbCount;      /* valid entries in dcbIds and dcbState */
    uint8_t dcbIds[200];   /* the station's terminals, in file order */
    int32_t dcbState[200]; /* 1 once the terminal's operator logged on */
} _DEVINFO;

/* What a download run is to do. */
typedef struct _DCBSELPARAM {
    int32_t fileFlags[11]; /* non-zero: send file i of the download list */
    uint32_t dcbListCount; /* entries used in dcbList, at most 200 */
    uint8_t stationIndex;  /* position in the service's station table */
    uint8_t dcbList[200];  /* DCB ids of the selected terminals */
} _DCBSELPARAM;

/* Progress of a download run. */
typedef struct _UPDATESTATUS {
    uint8_t dcbStatus[200]; /* 0 failed, 1 searching, 2 found, 3 receiving, 4 done */
    uint8_t fileIndex;      /* file being sent */
    uint32_t lineTotal;     /* lines of that file */
    uint32_t lineNumber;    /* 1-based line being sent */
} _UPDATESTATUS;

/* One terminal's counters in a link test. */
typedef struct _TESTSTATUS {
    uint32_t sentCount;
    uint32_t okCount;
    uint32_t errorCount;
    uint32_t timeoutCount;
    int32_t selected;    /* set by the caller: this terminal takes part */
    uint32_t replyEvent; /* the service's event handle; leave it alone */
} _TESTSTATUS;

/* The 7-byte record whose address travels in wParam of WM_REQUEST_RECEIVED. */
typedef struct _REQUESTRECORD {
    uint8_t hostId;
    uint8_t dcbId;
    uint8_t code;
    uint32_t length;
} _REQUESTRECORD;

#pragma pack(pop)

QM_API int SDKInit(void* window, _DEVINFO* stations, uint32_t count);
QM_API void SDKDeInit(void);
QM_API int SDKSendData(uint8_t dcbId, uint8_t hostId, uint8_t code, uint8_t* data, uint32_t length);
QM_API void SDKSaveTxFile(void* window, uint8_t hostId, uint8_t dcbId, uint8_t code,
                          uint32_t length, uint8_t* data);
/* Reads TXT/R<hostId>.txt, the back-end's reply to the most recent request;
 * 1 when it answers that request (its code and DCB id into *code, *dcbId),
 * else 0 with *length 0 and data untouched. data must hold 5000 bytes: each
 * reply line goes into its own 20-byte slots, and a line that would pass
 * 5000 bytes is dropped with every line after it. Only each line's own bytes
 * are written, with no NUL, so fill the buffer with blanks (0x20) before each
 * call: the rest of every slot then stays blank, as the terminal expects.
 * A "DL  " (logon) reply gives 0x01 first when accepted, then the verdict's
 * text, and *length 11. "DX  " replies are always refused. */
QM_API int SDKGetRxFile(uint8_t hostId, uint8_t* data, uint8_t* code, uint8_t* dcbId,
                        uint32_t* length);
QM_API void SDKUpdateProcess(int start, _DCBSELPARAM* selection);
QM_API uint32_t SDKGetUpdateStatus(_UPDATESTATUS* status);
QM_API void SDKTestProcess(int start, uint8_t stationIndex, _TESTSTATUS* array);
QM_API void SDKSetSMS(uint8_t messageNumber, uint8_t dcbId, uint8_t* text);
QM_API void SDKSetHotelTitle(uint8_t* title, uint32_t length);
QM_API void SDKSetParam(uint32_t retryTimes, uint32_t beaconTimeout, uint32_t beaconInterval);
QM_API char* SDKGetVersion(void);

#ifdef __cplusplus
}

static_assert(sizeof(_DEVINFO) == 1008, "_DEVINFO is 1008 bytes");
static_assert(sizeof(_DCBSELPARAM) == 249, "_DCBSELPARAM is 249 bytes");
static_assert(sizeof(_UPDATESTATUS) == 209, "_UPDATESTATUS is 209 bytes");
static_assert(sizeof(_TESTSTATUS) == 24, "_TESTSTATUS is 24 bytes");
static_assert(sizeof(_REQUESTRECORD) == 7, "the request record is 7 bytes");
#else
_Static_assert(sizeof(_DEVINFO) == 1008, "_DEVINFO is 1008 bytes");
_Static_assert(sizeof(_DCBSELPARAM) == 249, "_DCBSELPARAM is 249 bytes");
_Static_assert(sizeof(_UPDATESTATUS) == 209, "_UPDATESTATUS is 209 bytes");
_Static_assert(sizeof(_TESTSTATUS) == 24, "_TESTSTATUS is 24 bytes");
_Static_assert(sizeof(_REQUESTRECORD) == 7, "the request record is 7 bytes");
#endif

#endif /* QM_SERVICE_QMSDK_H */
