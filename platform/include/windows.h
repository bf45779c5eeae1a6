/*
 * Win32 declarations for the Linux build. Written for this project: only
 * what the engine and the agent use, with Windows' integer widths.
 * Implemented by libhbrplatform (platform/src), one shared library, so a
 * process holds one handle table, one registry notifier and one last error
 * per thread.
 *
 * Semantics the agent relies on:
 *
 * Handles. A handle value encodes a table index and a generation; it is
 * never NULL and never INVALID_HANDLE_VALUE. Closing a handle bumps the
 * generation of its slot, so a closed or stale handle (slot reused) is
 * recognised. A NULL, closed, stale or wrong-type handle fails cleanly
 * with ERROR_INVALID_HANDLE: FALSE (or the error code) from SetEvent,
 * ResetEvent, CloseHandle, RegCloseKey and the timer calls, WAIT_FAILED
 * from the waits. Objects are reference-counted, so closing a handle while
 * another thread waits on it is safe.
 *
 * Events. Only manual-reset events: CreateEventA(NULL, TRUE, init, name).
 * Auto-reset events are refused (NULL, ERROR_INVALID_PARAMETER). A name
 * (case-sensitive, at most MAX_PATH characters, else NULL with
 * ERROR_FILENAME_EXCED_RANGE) is known within the process: an existing name
 * gives a new handle to the same event (its state untouched) and sets
 * ERROR_ALREADY_EXISTS; a new name sets the last error to 0, an exception to
 * the rule below that successes leave it alone. The name is free again when
 * the event's last handle is closed.
 *
 * Waits. WaitForSingleObject / WaitForMultipleObjects(n, h, FALSE, ms) on
 * events and thread handles. The result is WAIT_OBJECT_0 plus the lowest
 * signalled index; a wait never resets an event. bWaitAll, n == 0 and
 * n > MAXIMUM_WAIT_OBJECTS fail with ERROR_INVALID_PARAMETER.
 *
 * Threads. CreateThread(NULL, 0, fn, p, 0, id|NULL); the handle is
 * signalled when fn returns. Creation flags other than 0 are refused.
 *
 * Timer queues. Each queue runs its own timer thread. A timer first fires
 * after `due` ms (0: at once), then every `period` ms (0: one-shot), as
 * cb(p, TRUE). A tick missed while a callback overran is skipped.
 * DeleteTimerQueueTimer(q, t, INVALID_HANDLE_VALUE) returns only after the
 * timer's running callback has returned; no callback starts afterwards.
 * DeleteTimerQueueEx(q, INVALID_HANDLE_VALUE) does the same for every timer
 * of the queue, then ends its thread and frees it. Other completion
 * arguments are refused (ERROR_INVALID_PARAMETER); a delete from the
 * queue's own callback fails instead of deadlocking.
 *
 * Sleep. Durations of 1000 ms or more are divided by the integer in the
 * environment variable HBR_SLEEP_DIVISOR (read at each such call; missing,
 * non-numeric or below 1 means 1). Shorter sleeps, INFINITE, wait time-outs
 * and timer periods are never scaled.
 *
 * Last error. Thread-local; failures set it, successes leave it alone.
 *
 * Registry (HKEY_LOCAL_MACHINE only). The store lives in the folder named by
 * HBR_REGISTRY_ROOT (default /var/lib/hollowbright/registry), resolved each
 * time a key is opened from HKEY_LOCAL_MACHINE. Key and value names compare
 * ASCII-case-insensitively, a key keeps the spelling it was created with,
 * a trailing "\\" is ignored, and a NULL or "" value name is the default
 * value. Missing key or value: ERROR_FILE_NOT_FOUND; a key deleted under an
 * open handle: ERROR_KEY_DELETED. Sets store exactly cbData bytes with the
 * given type. RegQueryValueExA with NULL data reports size and type; with a
 * buffer too small it returns ERROR_MORE_DATA with the needed size and the
 * type, copying nothing. A store I/O failure returns a non-zero code
 * (ERROR_ACCESS_DENIED for permission or not-a-folder errors). Access masks
 * and options are ignored. See docs/platform.md for the on-disk format.
 *
 * Change notification. RegNotifyChangeKeyValue(h, subtree, filter, event,
 * TRUE) arms a one-shot watch: REG_NOTIFY_CHANGE_NAME fires on a subkey
 * added or removed, REG_NOTIFY_CHANGE_LAST_SET on a value set or deleted;
 * with `subtree` anywhere below the key, else on the key itself only. The
 * event is set within 1 s of the change, by this process or any other; the
 * watch then ends. It lives until it fires or the key is closed.
 * Synchronous mode is refused (ERROR_INVALID_PARAMETER).
 *
 * Service control. StartServiceCtrlDispatcherA blocks SIGTERM, SIGINT,
 * SIGUSR1 and SIGUSR2 in the calling thread (call it before starting any
 * thread), runs table[0]'s service main on a new thread and takes signals
 * synchronously on the calling thread: SIGTERM/SIGINT -> SERVICE_CONTROL_STOP,
 * SIGUSR2 -> SERVICE_CONTROL_SHUTDOWN, SIGUSR1 -> SERVICE_CONTROL_INTERROGATE.
 * STOP needs SERVICE_ACCEPT_STOP, SHUTDOWN needs SERVICE_ACCEPT_SHUTDOWN,
 * INTERROGATE is always delivered. A control not accepted yet (or arriving
 * before the handler is registered) is kept, one per code, and delivered
 * once accepted; STOP and SHUTDOWN while stop-pending or stopped are
 * dropped. SetServiceStatus writes one line per report to stderr:
 * "SetServiceStatus state=%u controls=%u checkpoint=%u waithint=%u".
 *
 * COM. CoInitializeEx (see <objbase.h>) is a successful no-op.
 */
#ifndef HBR_PLATFORM_WINDOWS_H
#define HBR_PLATFORM_WINDOWS_H

#include <stdint.h>
#include <stddef.h>
#include <pthread.h>

#ifdef __cplusplus
extern "C" {
#endif

#ifndef WINAPI
#define WINAPI
#endif
#ifndef CALLBACK
#define CALLBACK
#endif
#ifndef VOID
#define VOID void
#endif

/* ---- Base types (Windows widths) ---- */
typedef uint32_t DWORD;
typedef uint32_t ULONG;
typedef uint32_t UINT;
typedef int32_t LONG;
typedef int32_t LSTATUS;
typedef int32_t HRESULT;
typedef uint16_t WORD;
typedef uint16_t USHORT;
typedef uint8_t BYTE;
typedef uint8_t BOOLEAN;
typedef int BOOL;
typedef char CHAR;
typedef void *PVOID;
typedef void *LPVOID;
typedef const void *LPCVOID;
typedef char *LPSTR;
typedef const char *LPCSTR;
typedef BYTE *LPBYTE;
typedef BYTE *PBYTE;
typedef DWORD *LPDWORD;
typedef DWORD *PDWORD;
typedef LONG *PLONG;
typedef BOOL *LPBOOL;
typedef uintptr_t ULONG_PTR;
typedef DWORD ACCESS_MASK;
typedef ACCESS_MASK REGSAM;

typedef void *HANDLE;
typedef HANDLE *PHANDLE;
typedef HANDLE *LPHANDLE;
typedef struct HKEY__ *HKEY;
typedef HKEY *PHKEY;
typedef struct HINSTANCE__ *HMODULE;


/* ---- Wide characters, GUIDs ---- */
#ifdef __cplusplus
typedef char16_t WCHAR;
#else
typedef uint16_t WCHAR;
#endif
typedef WCHAR *LPWSTR;
typedef const WCHAR *LPCWSTR;
typedef uintptr_t UINT_PTR;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
#define MAXDWORD 0xFFFFFFFFu

typedef struct _GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
} GUID, *LPGUID;
typedef GUID IID;
typedef GUID CLSID;
#ifdef __cplusplus
typedef const IID &REFIID;
typedef const CLSID &REFCLSID;
typedef const GUID &REFGUID;
static inline bool IsEqualGUID(REFGUID a, REFGUID b)
{
    return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
           __builtin_memcmp(a.Data4, b.Data4, 8) == 0;
}
#define IsEqualIID(a, b) IsEqualGUID(a, b)
#define IsEqualCLSID(a, b) IsEqualGUID(a, b)
#else
typedef const IID *REFIID;
typedef const CLSID *REFCLSID;
typedef const GUID *REFGUID;
#endif
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define MAX_PATH 260

/* ---- Errors ---- */
#define ERROR_INVALID_FUNCTION 1
#define ERROR_INVALID_DATA 13
#define ERROR_GEN_FAILURE 31
#define ERROR_FILENAME_EXCED_RANGE 206
#define ERROR_NO_MORE_ITEMS 259
#define ERROR_INVALID_FLAGS 1004
#define ERROR_NOT_FOUND 1168
#define ERROR_TIMEOUT 1460
#define ERROR_INVALID_USER_BUFFER 1784
#define ERROR_SUCCESS 0
#define NO_ERROR 0
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_INVALID_PARAMETER 87
#define ERROR_INSUFFICIENT_BUFFER 122
#define ERROR_ALREADY_EXISTS 183
#define ERROR_MORE_DATA 234
#define ERROR_KEY_DELETED 1018
#define ERROR_FAILED_SERVICE_CONTROLLER_CONNECT 1063
#define ERROR_SERVICE_ALREADY_RUNNING 1056

/* ---- Security attributes (accepted, ignored) ---- */
typedef struct _SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *PSECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

/* ---- Last error and sleep ---- */
void WINAPI Sleep(DWORD dwMilliseconds);
DWORD WINAPI GetLastError(void);
void WINAPI SetLastError(DWORD dwErrCode);

/* ---- Handles, events, waits ---- */
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED_0 0x00000080u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu
#define MAXIMUM_WAIT_OBJECTS 64

BOOL WINAPI CloseHandle(HANDLE hObject);
HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset,
                           BOOL bInitialState, LPCSTR lpName);
BOOL WINAPI SetEvent(HANDLE hEvent);
BOOL WINAPI ResetEvent(HANDLE hEvent);
DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE *lpHandles, BOOL bWaitAll,
                                    DWORD dwMilliseconds);

/* ---- Threads ---- */
typedef DWORD(WINAPI *LPTHREAD_START_ROUTINE)(LPVOID lpThreadParameter);
HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, size_t dwStackSize,
                           LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                           DWORD dwCreationFlags, LPDWORD lpThreadId);
DWORD WINAPI GetCurrentProcessId(void);

/* ---- Timer queues ---- */
typedef void(CALLBACK *WAITORTIMERCALLBACK)(PVOID lpParameter, BOOLEAN TimerOrWaitFired);
#define WT_EXECUTEDEFAULT 0x00000000u

HANDLE WINAPI CreateTimerQueue(void);
BOOL WINAPI CreateTimerQueueTimer(PHANDLE phNewTimer, HANDLE TimerQueue,
                                  WAITORTIMERCALLBACK Callback, PVOID Parameter,
                                  DWORD DueTime, DWORD Period, ULONG Flags);
BOOL WINAPI DeleteTimerQueueTimer(HANDLE TimerQueue, HANDLE Timer, HANDLE CompletionEvent);
BOOL WINAPI DeleteTimerQueueEx(HANDLE TimerQueue, HANDLE CompletionEvent);

/* ---- Files and serial ports ----
 * CreateFileA opens only "\\\\.\\NAME" (a COM port): $HBR_DEV_ROOT/NAME
 * (default /dev), read at each call. ReadFile/WriteFile are synchronous
 * (lpOverlapped must be NULL) and follow the port's COMMTIMEOUTS as on
 * Windows; see docs/platform.md. The comm calls on a descriptor that is not
 * a terminal fail with ERROR_INVALID_FUNCTION. CloseHandle closes a port.
 * A successful CreateFileA sets the last error to 0, an exception to the
 * rule that successes leave it alone. PurgeComm takes PURGE_RXCLEAR only
 * (tcflush of the input queue); other flags fail with
 * ERROR_INVALID_PARAMETER. */
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define OPEN_EXISTING 3u

typedef struct _OVERLAPPED OVERLAPPED, *LPOVERLAPPED;

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                          DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                          HANDLE hTemplateFile);
BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                     LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped);
BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped);
/* DeleteFileA removes a file by its plain path (unlink). Errors as for
 * CreateFileA: missing file or folder ERROR_FILE_NOT_FOUND, permission
 * ERROR_ACCESS_DENIED, anything else ERROR_GEN_FAILURE. */
BOOL WINAPI DeleteFileA(LPCSTR lpFileName);

typedef struct _COMMTIMEOUTS {
    DWORD ReadIntervalTimeout;
    DWORD ReadTotalTimeoutMultiplier;
    DWORD ReadTotalTimeoutConstant;
    DWORD WriteTotalTimeoutMultiplier;
    DWORD WriteTotalTimeoutConstant;
} COMMTIMEOUTS, *LPCOMMTIMEOUTS;

typedef struct _DCB {
    DWORD DCBlength;
    DWORD BaudRate;
    DWORD fBinary : 1;
    DWORD fParity : 1;
    DWORD fOutxCtsFlow : 1;
    DWORD fOutxDsrFlow : 1;
    DWORD fDtrControl : 2;
    DWORD fDsrSensitivity : 1;
    DWORD fTXContinueOnXoff : 1;
    DWORD fOutX : 1;
    DWORD fInX : 1;
    DWORD fErrorChar : 1;
    DWORD fNull : 1;
    DWORD fRtsControl : 2;
    DWORD fAbortOnError : 1;
    DWORD fDummy2 : 17;
    WORD wReserved;
    WORD XonLim;
    WORD XoffLim;
    BYTE ByteSize;
    BYTE Parity;
    BYTE StopBits;
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
    WORD wReserved1;
} DCB, *LPDCB;

typedef struct _COMSTAT {
    DWORD fCtsHold : 1;
    DWORD fDsrHold : 1;
    DWORD fRlsdHold : 1;
    DWORD fXoffHold : 1;
    DWORD fXoffSent : 1;
    DWORD fEof : 1;
    DWORD fTxim : 1;
    DWORD fReserved : 25;
    DWORD cbInQue;
    DWORD cbOutQue;
} COMSTAT, *LPCOMSTAT;
#ifdef __cplusplus
static_assert(sizeof(COMSTAT) == 12, "COMSTAT is 12 bytes");
#endif

#define CBR_9600 9600u
#define CBR_115200 115200u
#define NOPARITY 0
#define ODDPARITY 1
#define EVENPARITY 2
#define ONESTOPBIT 0
#define TWOSTOPBITS 2
#define DTR_CONTROL_DISABLE 0x00
#define DTR_CONTROL_ENABLE 0x01
#define RTS_CONTROL_DISABLE 0x00
#define RTS_CONTROL_ENABLE 0x01

BOOL WINAPI SetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts);
BOOL WINAPI GetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts);
BOOL WINAPI GetCommState(HANDLE hFile, LPDCB lpDCB);
BOOL WINAPI SetCommState(HANDLE hFile, LPDCB lpDCB);
BOOL WINAPI ClearCommBreak(HANDLE hFile);
BOOL WINAPI ClearCommError(HANDLE hFile, LPDWORD lpErrors, LPCOMSTAT lpStat);
#define PURGE_RXCLEAR 0x0008u
BOOL WINAPI PurgeComm(HANDLE hFile, DWORD dwFlags);

/* ---- Code pages: CP_UTF8, with CP_ACP taken as UTF-8; flags must be 0.
 * An output count of 0 asks for the needed count; a short buffer gives 0
 * with ERROR_INSUFFICIENT_BUFFER; invalid input becomes U+FFFD. ---- */
#define CP_ACP 0u
#define CP_UTF8 65001u

int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr,
                               int cbMultiByte, LPWSTR lpWideCharStr, int cchWideChar);
int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr,
                               int cchWideChar, LPSTR lpMultiByteStr, int cbMultiByte,
                               LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar);

/* ---- Module, time ---- */
/* hModule must be NULL (the executable). On truncation copies nSize-1
 * bytes and a NUL, returns nSize and sets ERROR_INSUFFICIENT_BUFFER. */
DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);

typedef struct _SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
} SYSTEMTIME, *PSYSTEMTIME, *LPSYSTEMTIME;

void WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime);

/* ---- Critical sections (recursive) ---- */
typedef struct _CRITICAL_SECTION {
    pthread_mutex_t mutex;
} CRITICAL_SECTION, *LPCRITICAL_SECTION;

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void WINAPI EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection);

/* ---- Interlocked ---- */
static inline LONG InterlockedIncrement(LONG volatile *addend)
{
    return __atomic_add_fetch(addend, 1, __ATOMIC_SEQ_CST);
}
static inline LONG InterlockedDecrement(LONG volatile *addend)
{
    return __atomic_sub_fetch(addend, 1, __ATOMIC_SEQ_CST);
}

/* ---- Registry ---- */
#define HKEY_LOCAL_MACHINE ((HKEY)(uintptr_t)0x80000002u)

#define KEY_QUERY_VALUE 0x0001u
#define KEY_SET_VALUE 0x0002u
#define KEY_CREATE_SUB_KEY 0x0004u
#define KEY_ENUMERATE_SUB_KEYS 0x0008u
#define KEY_NOTIFY 0x0010u
#define KEY_READ 0x20019u
#define KEY_WRITE 0x20006u
#define KEY_ALL_ACCESS 0xF003Fu

#define REG_OPTION_NON_VOLATILE 0x00000000u
#define REG_CREATED_NEW_KEY 0x00000001u
#define REG_OPENED_EXISTING_KEY 0x00000002u

#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u
#define REG_MULTI_SZ 7u
#define REG_QWORD 11u

#define REG_NOTIFY_CHANGE_NAME 0x00000001u
#define REG_NOTIFY_CHANGE_ATTRIBUTES 0x00000002u
#define REG_NOTIFY_CHANGE_LAST_SET 0x00000004u
#define REG_NOTIFY_CHANGE_SECURITY 0x00000008u

LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                             PHKEY phkResult);
LSTATUS WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass,
                               DWORD dwOptions, REGSAM samDesired,
                               const LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                               PHKEY phkResult, LPDWORD lpdwDisposition);
LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved,
                                LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
LSTATUS WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                              const BYTE *lpData, DWORD cbData);
LSTATUS WINAPI RegSetKeyValueA(HKEY hKey, LPCSTR lpSubKey, LPCSTR lpValueName, DWORD dwType,
                               LPCVOID lpData, DWORD cbData);
LSTATUS WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName);
LSTATUS WINAPI RegDeleteTreeA(HKEY hKey, LPCSTR lpSubKey);
LSTATUS WINAPI RegNotifyChangeKeyValue(HKEY hKey, BOOL bWatchSubtree, DWORD dwNotifyFilter,
                                       HANDLE hEvent, BOOL fAsynchronous);
LSTATUS WINAPI RegCloseKey(HKEY hKey);

/* ---- Service control ---- */
#define SERVICE_WIN32_OWN_PROCESS 0x00000010u

#define SERVICE_STOPPED 0x00000001u
#define SERVICE_START_PENDING 0x00000002u
#define SERVICE_STOP_PENDING 0x00000003u
#define SERVICE_RUNNING 0x00000004u
#define SERVICE_CONTINUE_PENDING 0x00000005u
#define SERVICE_PAUSE_PENDING 0x00000006u
#define SERVICE_PAUSED 0x00000007u

#define SERVICE_ACCEPT_STOP 0x00000001u
#define SERVICE_ACCEPT_PAUSE_CONTINUE 0x00000002u
#define SERVICE_ACCEPT_SHUTDOWN 0x00000004u

#define SERVICE_CONTROL_STOP 0x00000001u
#define SERVICE_CONTROL_PAUSE 0x00000002u
#define SERVICE_CONTROL_CONTINUE 0x00000003u
#define SERVICE_CONTROL_INTERROGATE 0x00000004u
#define SERVICE_CONTROL_SHUTDOWN 0x00000005u

typedef struct _SERVICE_STATUS {
    DWORD dwServiceType;
    DWORD dwCurrentState;
    DWORD dwControlsAccepted;
    DWORD dwWin32ExitCode;
    DWORD dwServiceSpecificExitCode;
    DWORD dwCheckPoint;
    DWORD dwWaitHint;
} SERVICE_STATUS, *LPSERVICE_STATUS;

typedef uintptr_t SERVICE_STATUS_HANDLE;
typedef void(WINAPI *LPSERVICE_MAIN_FUNCTIONA)(DWORD dwNumServicesArgs,
                                               LPSTR *lpServiceArgVectors);
typedef void(WINAPI *LPHANDLER_FUNCTION)(DWORD dwControl);

typedef struct _SERVICE_TABLE_ENTRYA {
    LPSTR lpServiceName;
    LPSERVICE_MAIN_FUNCTIONA lpServiceProc;
} SERVICE_TABLE_ENTRYA, *LPSERVICE_TABLE_ENTRYA;

BOOL WINAPI StartServiceCtrlDispatcherA(const SERVICE_TABLE_ENTRYA *lpServiceStartTable);
SERVICE_STATUS_HANDLE WINAPI RegisterServiceCtrlHandlerA(LPCSTR lpServiceName,
                                                         LPHANDLER_FUNCTION lpHandlerProc);
BOOL WINAPI SetServiceStatus(SERVICE_STATUS_HANDLE hServiceStatus,
                             LPSERVICE_STATUS lpServiceStatus);

#ifdef __cplusplus
}
#endif

#endif /* HBR_PLATFORM_WINDOWS_H */
