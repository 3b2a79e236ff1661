/* The cabinet library's C interface: the compression (FCI) and decompression (FDI)
 * entry points with their records, callback types and error codes. Shared by
 * libplmcab.so and by the run-time binding in cabinet/CabIntf.
 *
 * The records keep their classic 32-bit layouts on every platform: the classic
 * "long", "ULONG", "UINT" and "BOOL" are 32-bit integers here, "USHORT" is 16-bit and
 * "INT_PTR" (file handles) is pointer-sized. All functions use the C calling
 * convention. */
#ifndef PLM_FDI_FCI_H
#define PLM_FDI_FCI_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define PLMCAB_EXPORT __attribute__((visibility("default")))
#else
#define PLMCAB_EXPORT
#endif

typedef int32_t CABBOOL; /* 0 false, non-zero true */
typedef intptr_t CABHANDLE;

/* Error record, filled by the library when a call fails. */
typedef struct {
  int32_t erfOper; /* FDIERROR or FCIERROR code */
  int32_t erfType; /* C runtime error (errno) of a failed callback, else 0 */
  CABBOOL fError;  /* non-zero when the record holds an error */
} ERF, *PERF;

/* File attributes as stored in a cabinet. */
#define _A_RDONLY 0x01
#define _A_HIDDEN 0x02
#define _A_SYSTEM 0x04
#define _A_ARCH 0x20
#define _A_EXEC 0x40        /* run after extraction */
#define _A_NAME_IS_UTF 0x80 /* the stored name is UTF-8 */

/* Open flags in the C runtime's encoding, as the open callbacks receive them. */
#define CAB_O_RDONLY 0x0000
#define CAB_O_WRONLY 0x0001
#define CAB_O_RDWR 0x0002
#define CAB_O_APPEND 0x0008
#define CAB_O_RANDOM 0x0010
#define CAB_O_SEQUENTIAL 0x0020
#define CAB_O_TEMPORARY 0x0040
#define CAB_O_NOINHERIT 0x0080
#define CAB_O_CREAT 0x0100
#define CAB_O_TRUNC 0x0200
#define CAB_O_EXCL 0x0400
#define CAB_O_SHORT_LIVED 0x1000
#define CAB_O_TEXT 0x4000
#define CAB_O_BINARY 0x8000
#define CAB_S_IREAD 0x0100
#define CAB_S_IWRITE 0x0080

#define CB_MAX_CHUNK 32768u
#define CB_MAX_DISK 0x7FFFFFFFL
#define CB_MAX_FILENAME 256
#define CB_MAX_CABINET_NAME 256
#define CB_MAX_CAB_PATH 256
#define CB_MAX_DISK_NAME 256

/* ---- decompression ---------------------------------------------------------------- */

typedef enum {
  FDIERROR_NONE = 0,
  FDIERROR_CABINET_NOT_FOUND = 1,
  FDIERROR_NOT_A_CABINET = 2,
  FDIERROR_UNKNOWN_CABINET_VERSION = 3,
  FDIERROR_CORRUPT_CABINET = 4,
  FDIERROR_ALLOC_FAIL = 5,
  FDIERROR_BAD_COMPR_TYPE = 6,
  FDIERROR_MDI_FAIL = 7,
  FDIERROR_TARGET_FILE = 8,
  FDIERROR_RESERVE_MISMATCH = 9,
  FDIERROR_WRONG_CABINET = 10,
  FDIERROR_USER_ABORT = 11,
  FDIERROR_EOF = 12
} FDIERROR;

#define cpuUNKNOWN (-1)
#define cpu80286 0
#define cpu80386 1

typedef void *HFDI;

typedef struct {
  int32_t cbCabinet; /* total length of the cabinet file */
  uint16_t cFolders;
  uint16_t cFiles;
  uint16_t setID;
  uint16_t iCabinet; /* number of this cabinet in its set, from 0 */
  CABBOOL fReserve;  /* the cabinet has reserved areas */
  CABBOOL hasprev;
  CABBOOL hasnext;
} FDICABINETINFO, *PFDICABINETINFO;

typedef enum {
  fdintCABINET_INFO = 0,
  fdintPARTIAL_FILE = 1,
  fdintCOPY_FILE = 2,
  fdintCLOSE_FILE_INFO = 3,
  fdintNEXT_CABINET = 4,
  fdintENUMERATE = 5
} FDINOTIFICATIONTYPE;

typedef struct {
  int32_t cb;
  char *psz1;
  char *psz2;
  char *psz3; /* fdintNEXT_CABINET: a buffer of at least CB_MAX_CAB_PATH bytes */
  void *pv;   /* the user value given to FDICopy */
  CABHANDLE hf;
  uint16_t date;
  uint16_t time;
  uint16_t attribs;
  uint16_t setID;
  uint16_t iCabinet;
  uint16_t iFolder;
  FDIERROR fdie;
} FDINOTIFICATION, *PFDINOTIFICATION;

typedef void *(*PFNALLOC)(uint32_t cb);
typedef void (*PFNFREE)(void *pv);
typedef CABHANDLE (*PFNOPEN)(char *pszFile, int oflag, int pmode);
typedef uint32_t (*PFNREAD)(CABHANDLE hf, void *pv, uint32_t cb);
typedef uint32_t (*PFNWRITE)(CABHANDLE hf, void *pv, uint32_t cb);
typedef int (*PFNCLOSE)(CABHANDLE hf);
typedef int32_t (*PFNSEEK)(CABHANDLE hf, int32_t dist, int seektype);
typedef CABHANDLE (*PFNFDINOTIFY)(FDINOTIFICATIONTYPE fdint, PFDINOTIFICATION pfdin);

typedef enum { fdidtNEW_CABINET, fdidtNEW_FOLDER, fdidtDECRYPT } FDIDECRYPTTYPE;
typedef struct {
  FDIDECRYPTTYPE fdidt;
  void *pvUser;
  union {
    struct {
      void *pHeaderReserve;
      uint16_t cbHeaderReserve;
      uint16_t setID;
      int iCabinet;
    } cabinet;
    struct {
      void *pFolderReserve;
      uint16_t cbFolderReserve;
      uint16_t iFolder;
    } folder;
    struct {
      void *pDataReserve;
      uint16_t cbDataReserve;
      void *pbData;
      uint16_t cbData;
      CABBOOL fSplit;
      uint16_t cbPartial;
    } decrypt;
  };
} FDIDECRYPT, *PFDIDECRYPT;
typedef int (*PFNFDIDECRYPT)(PFDIDECRYPT pfdid);

/* ---- compression ------------------------------------------------------------------ */

typedef enum {
  FCIERR_NONE = 0,
  FCIERR_OPEN_SRC = 1,
  FCIERR_READ_SRC = 2,
  FCIERR_ALLOC_FAIL = 3,
  FCIERR_TEMP_FILE = 4,
  FCIERR_BAD_COMPR_TYPE = 5,
  FCIERR_CAB_FILE = 6,
  FCIERR_USER_ABORT = 7,
  FCIERR_MCI_FAIL = 8,
  FCIERR_CAB_FORMAT_LIMIT = 9
} FCIERROR;

typedef uint16_t TCOMP;
#define tcompMASK_TYPE 0x000F
#define tcompTYPE_NONE 0x0000
#define tcompTYPE_MSZIP 0x0001
#define tcompTYPE_QUANTUM 0x0002
#define tcompTYPE_LZX 0x0003
#define tcompBAD 0x000F
#define tcompMASK_LZX_WINDOW 0x1F00
#define tcompLZX_WINDOW_LO 0x0F00
#define tcompLZX_WINDOW_HI 0x1500
#define tcompSHIFT_LZX_WINDOW 8

#define statusFile 0
#define statusFolder 1
#define statusCabinet 2

typedef void *HFCI;

/* Cabinet parameters: thresholds, reserved areas and the names of the current cabinet. */
typedef struct {
  uint32_t cb;                /* largest size of a cabinet */
  uint32_t cbFolderThresh;    /* a folder is closed once its compressed data reaches this */
  uint32_t cbReserveCFHeader; /* reserved bytes in the cabinet header (up to 60000) */
  uint32_t cbReserveCFFolder; /* reserved bytes in each folder entry (up to 255) */
  uint32_t cbReserveCFData;   /* reserved bytes in each data block (up to 255) */
  int32_t iCab;               /* the caller's number of the cabinet */
  int32_t iDisk;              /* the caller's number of the disk */
  int32_t fFailOnIncompressible;
  uint16_t setID;
  char szDisk[CB_MAX_DISK_NAME];
  char szCab[CB_MAX_CABINET_NAME];
  char szCabPath[CB_MAX_CAB_PATH];
} CCAB, *PCCAB;

typedef void *(*PFNFCIALLOC)(uint32_t cb);
typedef void (*PFNFCIFREE)(void *memory);
typedef CABHANDLE (*PFNFCIOPEN)(char *pszFile, int oflag, int pmode, int *err, void *pv);
typedef uint32_t (*PFNFCIREAD)(CABHANDLE hf, void *memory, uint32_t cb, int *err, void *pv);
typedef uint32_t (*PFNFCIWRITE)(CABHANDLE hf, void *memory, uint32_t cb, int *err, void *pv);
typedef int (*PFNFCICLOSE)(CABHANDLE hf, int *err, void *pv);
typedef int32_t (*PFNFCISEEK)(CABHANDLE hf, int32_t dist, int seektype, int *err, void *pv);
typedef int (*PFNFCIDELETE)(char *pszFile, int *err, void *pv);
typedef CABBOOL (*PFNFCIGETNEXTCABINET)(PCCAB pccab, uint32_t cbPrevCab, void *pv);
typedef int (*PFNFCIFILEPLACED)(PCCAB pccab, char *pszFile, int32_t cbFile, CABBOOL fContinuation,
                                void *pv);
typedef CABHANDLE (*PFNFCIGETOPENINFO)(char *pszName, uint16_t *pdate, uint16_t *ptime,
                                       uint16_t *pattribs, int *err, void *pv);
typedef int32_t (*PFNFCISTATUS)(uint32_t typeStatus, uint32_t cb1, uint32_t cb2, void *pv);
typedef CABBOOL (*PFNFCIGETTEMPFILE)(char *pszTempName, int cbTempName, void *pv);

/* ---- entry points ----------------------------------------------------------------- */

PLMCAB_EXPORT HFCI FCICreate(PERF perf, PFNFCIFILEPLACED pfnfcifp, PFNFCIALLOC pfna,
                             PFNFCIFREE pfnf, PFNFCIOPEN pfnopen, PFNFCIREAD pfnread,
                             PFNFCIWRITE pfnwrite, PFNFCICLOSE pfnclose, PFNFCISEEK pfnseek,
                             PFNFCIDELETE pfndelete, PFNFCIGETTEMPFILE pfnfcigtf, PCCAB pccab,
                             void *pv);
PLMCAB_EXPORT CABBOOL FCIAddFile(HFCI hfci, char *pszSourceFile, char *pszFileName,
                                 CABBOOL fExecute, PFNFCIGETNEXTCABINET pfnfcignc,
                                 PFNFCISTATUS pfnfcis, PFNFCIGETOPENINFO pfnfcigoi,
                                 TCOMP typeCompress);
PLMCAB_EXPORT CABBOOL FCIFlushCabinet(HFCI hfci, CABBOOL fGetNextCab,
                                      PFNFCIGETNEXTCABINET pfnfcignc, PFNFCISTATUS pfnfcis);
PLMCAB_EXPORT CABBOOL FCIFlushFolder(HFCI hfci, PFNFCIGETNEXTCABINET pfnfcignc,
                                     PFNFCISTATUS pfnfcis);
PLMCAB_EXPORT CABBOOL FCIDestroy(HFCI hfci);

PLMCAB_EXPORT HFDI FDICreate(PFNALLOC pfnalloc, PFNFREE pfnfree, PFNOPEN pfnopen, PFNREAD pfnread,
                             PFNWRITE pfnwrite, PFNCLOSE pfnclose, PFNSEEK pfnseek, int cpuType,
                             PERF perf);
PLMCAB_EXPORT CABBOOL FDIIsCabinet(HFDI hfdi, CABHANDLE hf, PFDICABINETINFO pfdici);
PLMCAB_EXPORT CABBOOL FDICopy(HFDI hfdi, char *pszCabinet, char *pszCabPath, int flags,
                              PFNFDINOTIFY pfnfdin, PFNFDIDECRYPT pfnfdid, void *pvUser);
PLMCAB_EXPORT CABBOOL FDIDestroy(HFDI hfdi);

/* Function pointer types of the nine entry points, for run-time binding. */
typedef HFCI (*PFN_FCICreate)(PERF, PFNFCIFILEPLACED, PFNFCIALLOC, PFNFCIFREE, PFNFCIOPEN,
                              PFNFCIREAD, PFNFCIWRITE, PFNFCICLOSE, PFNFCISEEK, PFNFCIDELETE,
                              PFNFCIGETTEMPFILE, PCCAB, void *);
typedef CABBOOL (*PFN_FCIAddFile)(HFCI, char *, char *, CABBOOL, PFNFCIGETNEXTCABINET, PFNFCISTATUS,
                                  PFNFCIGETOPENINFO, TCOMP);
typedef CABBOOL (*PFN_FCIFlushCabinet)(HFCI, CABBOOL, PFNFCIGETNEXTCABINET, PFNFCISTATUS);
typedef CABBOOL (*PFN_FCIFlushFolder)(HFCI, PFNFCIGETNEXTCABINET, PFNFCISTATUS);
typedef CABBOOL (*PFN_FCIDestroy)(HFCI);
typedef HFDI (*PFN_FDICreate)(PFNALLOC, PFNFREE, PFNOPEN, PFNREAD, PFNWRITE, PFNCLOSE, PFNSEEK, int,
                              PERF);
typedef CABBOOL (*PFN_FDIIsCabinet)(HFDI, CABHANDLE, PFDICABINETINFO);
typedef CABBOOL (*PFN_FDICopy)(HFDI, char *, char *, int, PFNFDINOTIFY, PFNFDIDECRYPT, void *);
typedef CABBOOL (*PFN_FDIDestroy)(HFDI);

#ifdef __cplusplus
}
#endif

#endif /* PLM_FDI_FCI_H */
