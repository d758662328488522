/* The C interface of the RAR listing library (libunrar.so).
 *
 * The library is loaded by name at run time (see archive/untUnRar.h); these
 * are the structures, flags, result codes and callback messages every library
 * of this name publishes, so a library installed by the user works through the
 * same binding as ours. All entries use the C calling convention. */
#ifndef ORB_RARAPI_H
#define ORB_RARAPI_H

#include <stddef.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

#define ERAR_SUCCESS 0
#define ERAR_END_ARCHIVE 10
#define ERAR_NO_MEMORY 11
#define ERAR_BAD_DATA 12
#define ERAR_BAD_ARCHIVE 13
#define ERAR_UNKNOWN_FORMAT 14
#define ERAR_EOPEN 15
#define ERAR_ECREATE 16
#define ERAR_ECLOSE 17
#define ERAR_EREAD 18
#define ERAR_EWRITE 19
#define ERAR_SMALL_BUF 20
#define ERAR_UNKNOWN 21
#define ERAR_MISSING_PASSWORD 22
#define ERAR_EREFERENCE 23
#define ERAR_BAD_PASSWORD 24

#define RAR_OM_LIST 0
#define RAR_OM_EXTRACT 1
#define RAR_OM_LIST_INCSPLIT 2

#define RAR_SKIP 0
#define RAR_TEST 1
#define RAR_EXTRACT 2

#define RAR_VOL_ASK 0
#define RAR_VOL_NOTIFY 1

#define RAR_DLL_VERSION 8

#define RAR_HASH_NONE 0
#define RAR_HASH_CRC32 1
#define RAR_HASH_BLAKE2 2

/* Header flags as RARReadHeader reports them: the split and encryption bits,
 * solid, and in bits 5 to 7 the dictionary code (64 KB << code), where all
 * three bits set mark a directory. */
#define RHDF_SPLITBEFORE 0x01
#define RHDF_SPLITAFTER 0x02
#define RHDF_ENCRYPTED 0x04
#define RHDF_SOLID 0x10
#define RHDF_DIRECTORY 0x20
#define RHDF_WINDOWMASK 0xE0

typedef void *HANDLE;
typedef long LPARAM;
typedef unsigned int UINT;

struct RARHeaderData {
    char ArcName[260];
    char FileName[260];
    unsigned int Flags;
    unsigned int PackSize;
    unsigned int UnpSize;
    unsigned int HostOS;
    unsigned int FileCRC;
    unsigned int FileTime;
    unsigned int UnpVer;
    unsigned int Method;
    unsigned int FileAttr;
    char *CmtBuf;
    unsigned int CmtBufSize;
    unsigned int CmtSize;
    unsigned int CmtState;
};

struct RARHeaderDataEx {
    char ArcName[1024];
    wchar_t ArcNameW[1024];
    char FileName[1024];
    wchar_t FileNameW[1024];
    unsigned int Flags;
    unsigned int PackSize;
    unsigned int PackSizeHigh;
    unsigned int UnpSize;
    unsigned int UnpSizeHigh;
    unsigned int HostOS;
    unsigned int FileCRC;
    unsigned int FileTime;
    unsigned int UnpVer;
    unsigned int Method;
    unsigned int FileAttr;
    char *CmtBuf;
    unsigned int CmtBufSize;
    unsigned int CmtSize;
    unsigned int CmtState;
    unsigned int DictSize; /* in KB */
    unsigned int HashType;
    char Hash[32];
    unsigned int RedirType;
    wchar_t *RedirName;
    unsigned int RedirNameSize;
    unsigned int DirTarget;
    unsigned int MtimeLow;
    unsigned int MtimeHigh;
    unsigned int CtimeLow;
    unsigned int CtimeHigh;
    unsigned int AtimeLow;
    unsigned int AtimeHigh;
    unsigned int Reserved[988];
};

struct RAROpenArchiveData {
    char *ArcName;
    unsigned int OpenMode;
    unsigned int OpenResult;
    char *CmtBuf;
    unsigned int CmtBufSize;
    unsigned int CmtSize;
    unsigned int CmtState;
};

typedef int (*UNRARCALLBACK)(UINT msg, LPARAM UserData, LPARAM P1, LPARAM P2);

struct RAROpenArchiveDataEx {
    char *ArcName;
    wchar_t *ArcNameW;
    unsigned int OpenMode;
    unsigned int OpenResult;
    char *CmtBuf;
    unsigned int CmtBufSize;
    unsigned int CmtSize;
    unsigned int CmtState;
    unsigned int Flags;
    UNRARCALLBACK Callback;
    LPARAM UserData;
    unsigned int OpFlags;
    wchar_t *CmtBufW;
    unsigned int Reserved[25];
};

/* Archive flags reported in RAROpenArchiveDataEx.Flags. */
#define ROADF_VOLUME 0x0001
#define ROADF_COMMENT 0x0002
#define ROADF_LOCK 0x0004
#define ROADF_SOLID 0x0008
#define ROADF_NEWNUMBERING 0x0010
#define ROADF_SIGNED 0x0020
#define ROADF_RECOVERY 0x0040
#define ROADF_ENCHEADERS 0x0080
#define ROADF_FIRSTVOLUME 0x0100

/* Callback messages. UCM_CHANGEVOLUME: P1 the next volume's name (a buffer of
 * at least 1024 bytes the callback may rewrite), P2 RAR_VOL_ASK or
 * RAR_VOL_NOTIFY. UCM_PROCESSDATA: P1 the data, P2 its size. UCM_NEEDPASSWORD:
 * P1 the password buffer, P2 its size. A negative answer stops the operation. */
enum UNRARCALLBACK_MESSAGES {
    UCM_CHANGEVOLUME,
    UCM_PROCESSDATA,
    UCM_NEEDPASSWORD,
    UCM_CHANGEVOLUMEW,
    UCM_NEEDPASSWORDW,
    UCM_LARGEDICT
};

typedef int (*CHANGEVOLPROC)(char *ArcName, int Mode);
typedef int (*PROCESSDATAPROC)(unsigned char *Addr, int Size);

HANDLE RAROpenArchive(struct RAROpenArchiveData *ArchiveData);
HANDLE RAROpenArchiveEx(struct RAROpenArchiveDataEx *ArchiveData);
int RARCloseArchive(HANDLE hArcData);
int RARReadHeader(HANDLE hArcData, struct RARHeaderData *HeaderData);
int RARReadHeaderEx(HANDLE hArcData, struct RARHeaderDataEx *HeaderData);
int RARProcessFile(HANDLE hArcData, int Operation, char *DestPath, char *DestName);
void RARSetCallback(HANDLE hArcData, UNRARCALLBACK Callback, LPARAM UserData);
void RARSetChangeVolProc(HANDLE hArcData, CHANGEVOLPROC ChangeVolProc);
void RARSetProcessDataProc(HANDLE hArcData, PROCESSDATAPROC ProcessDataProc);
void RARSetPassword(HANDLE hArcData, char *Password);
int RARGetDllVersion(void);

#ifdef __cplusplus
}
#endif

#endif
