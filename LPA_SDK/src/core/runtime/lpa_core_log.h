/*
 * Engine log: a table of twelve hook operations behind a few trampolines,
 * and the default backend that writes "lpa.log" with rotation to
 * "lpa.backup.log".
 *
 * Not thread-safe: the engine is driven from one thread at a time.
 */
#ifndef LPA_CORE_LOG_H
#define LPA_CORE_LOG_H

#include <stdarg.h>
#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "lpa_host.h"

#ifdef __cplusplus
extern "C" {
#endif

#define LPA_LOG_PATH_MAX 260
#define LPA_LOG_DEFAULT_LEVEL LPA_LOG_LEVEL_DEB
#define LPA_LOG_DEFAULT_MAX_SIZE 1048576
#define LPA_LOG_MESSAGE_BUFFER_SIZE 1024
#define LPA_LOG_LONG_MESSAGE_MAX 8192

/* One row of the level table; the table ends with {0, NULL, 0}. */
typedef struct LpaLogLevel {
    int32_t level;
    const char *name;
    int32_t selectable;
} LpaLogLevel;

extern const LpaLogLevel lpaLogLevelTable[];

/* The twelve hook slots, in this order (an interface: callers address
 * slots by position), plus the installed flag. */
typedef struct LpaLogHooks {
    void (*open)(const char *logPath, const char *backupPath);          /* 0 */
    void (*flush)(void);                                                 /* 1 */
    bool (*isOpen)(void);                                                /* 2 */
    void (*close)(void);                                                 /* 3 */
    void (*setRotation)(bool on);                                        /* 4 */
    void (*setLevel)(int32_t level);                                     /* 5 */
    int32_t (*getLevel)(void);                                           /* 6 */
    bool (*setMaxSize)(int32_t bytes);                                   /* 7 */
    int32_t (*getMaxSize)(void);                                         /* 8 */
    void (*message)(int32_t level, const char *format, va_list args);   /* 9 */
    void (*text)(int32_t level, const char *title, const char *text, size_t length); /* 10 */
    void (*hexDump)(int32_t level, const char *title, const char *label,
                    const uint8_t *bytes, size_t length);                /* 11 */
    bool installed;
} LpaLogHooks;

/* The process-wide hook table. */
extern LpaLogHooks lpaLogHooks;

/* Fills the hooks with the default backend, sets rotation off and marks
 * the hooks installed. */
void lpaCoreLogInstallDefaultBackend(void);

/* Trampolines (no-ops while the hooks are not installed or the slot is
 * empty). lpaCoreLog, lpaCoreLogFlush and lpaCoreLogSetLevel are in lpa_host.h. */
int32_t lpaCoreLogGetMaxSize(void);

/* Slot 10: text dump, guarded by the installed flag and the slot. */
void lpaCoreLogText(int32_t level, const char *title, const char *text, size_t length);

/* Slot 11: hex dump, guarded by the installed flag and the slot.
 * The title is written as a message line whose format arguments are the
 * label and the byte pointer, so a title is a format string: pass only
 * engine literals without conversions (or NULL). A caller that needs
 * numbers in a title formats them into the title text first. */
void lpaCoreLogHexDump(int32_t level, const char *title, const char *label,
                       const uint8_t *bytes, size_t length);

/* Default backend (slot order). */
void logOpen(const char *logPath, const char *backupPath);
void logFlush(void);
bool logIsOpen(void);
void logClose(void);
void logSetRotation(bool on);
void logSetLevel(int32_t level);
int32_t logGetLevel(void);
bool logSetMaxSize(int32_t bytes);
int32_t logGetMaxSize(void);
void logWriteMessage(int32_t level, const char *format, va_list args) LPA_PRINTF_FORMAT(2, 0);
void logWriteText(int32_t level, const char *title, const char *text, size_t length);
void logWriteHexDump(int32_t level, const char *title, const char *label,
                     const uint8_t *bytes, size_t length);
void logRotateIfNeeded(void);

/* Selects the default backend's level by name (first three characters,
 * case-insensitive). SYS cannot be selected. */
bool logSetLevelByName(const char *name);

/* The engine-wide text buffer of formatted event texts and hex-dump titles. */
#define LPA_MANAGER_EVENT_TEXT_SIZE 1024
extern char lpaManagerEventText[LPA_MANAGER_EVENT_TEXT_SIZE];

/* Formats a hex-dump title (numbers only; the finished title must hold no
 * conversion) into the engine-wide text buffer and dumps the bytes under it. */
void lpaManagerLogHexDumpTitled(int32_t level, const char *label, const uint8_t *bytes, size_t length,
                                const char *titleFormat, ...) LPA_PRINTF_FORMAT(5, 6);

/* "true" or "false", for log lines. */
static inline const char *lpaBoolText(bool value)
{
    return value ? "true" : "false";
}

#ifdef __cplusplus
}
#endif

#endif /* LPA_CORE_LOG_H */
