/*
 * Engine log: hook table, trampolines and the default file backend.
 *
 * The default backend writes "dd/mm/yyyy hh:mm:ss | LVL | message" lines,
 * flushes every line and, when rotation is on, moves the file to the
 * backup path once it grows past the maximum size.
 *
 * Re-entrancy: a message longer than the static buffer is formatted into a
 * block from the tracked allocator, and the allocator itself writes log
 * lines through this backend. Those nested lines reuse the static buffers
 * and may rotate (close and reopen) the file, so after any allocation or
 * free the buffers are refilled and the file pointer is read again.
 */
#include "runtime/lpa_core_log.h"

#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "runtime/lpa_core_memory.h"

const LpaLogLevel lpaLogLevelTable[] = {
    {LPA_LOG_LEVEL_VER, "VER", 1},
    {LPA_LOG_LEVEL_DEB, "DEB", 1},
    {LPA_LOG_LEVEL_INF, "INF", 1},
    {LPA_LOG_LEVEL_WAR, "WAR", 1},
    {LPA_LOG_LEVEL_ERR, "ERR", 1},
    {LPA_LOG_LEVEL_SYS, "SYS", 0},
    {0, NULL, 0},
};

LpaLogHooks lpaLogHooks = {};

#define LPA_LOG_TIMESTAMP_SIZE 96
#define LPA_LOG_TEXT_LINE_LENGTH 1025
#define LPA_LOG_HEX_CHUNK 256
#define LPA_LOG_ROTATION_CHECK_EVERY 5

static FILE *s_logFile = NULL;
static char s_logPath[LPA_LOG_PATH_MAX];
static char s_backupPath[LPA_LOG_PATH_MAX];
static int32_t s_logLevel = LPA_LOG_DEFAULT_LEVEL;
static int32_t s_logMaxSize = LPA_LOG_DEFAULT_MAX_SIZE;
static bool s_logRotation = false;
static uint64_t s_logWriteCounter = 0;
static char s_timestamp[LPA_LOG_TIMESTAMP_SIZE];
static char s_message[LPA_LOG_MESSAGE_BUFFER_SIZE];

static const char *levelName(int32_t level)
{
    for (const LpaLogLevel *row = lpaLogLevelTable; row->name != NULL; ++row) {
        if (row->level == level) {
            return row->name;
        }
    }
    return "??";
}

static void takeTimestamp(void)
{
    memset(s_timestamp, 0, sizeof(s_timestamp));
    time_t now = time(NULL);
    struct tm local;
#if defined(_WIN32)
    if (localtime_s(&local, &now) != 0) {
        return;
    }
#else
    if (localtime_r(&now, &local) == NULL) {
        return;
    }
#endif
    strftime(s_timestamp, sizeof(s_timestamp), "%d/%m/%Y %H:%M:%S", &local);
}

/* Size of an open file, or -1 when it cannot be read. */
static long openFileSize(FILE *file)
{
    if (fseek(file, 0, SEEK_END) != 0) {
        return -1;
    }
    return ftell(file);
}

/* Size of a file by path, or -1 when it does not exist or cannot be read. */
static long pathFileSize(const char *path)
{
    FILE *file = fopen(path, "rb");
    if (file == NULL) {
        return -1;
    }
    long size = openFileSize(file);
    fclose(file);
    return size;
}

/* Replaces the backup with the log file. Reports a failed rename on stderr
 * and answers whether the rename succeeded. */
static bool moveLogToBackup(void)
{
    remove(s_backupPath);
    if (rename(s_logPath, s_backupPath) != 0) {
        fprintf(stderr, "Unable to rename log file (errno=%d) !\n", errno);
        return false;
    }
    return true;
}

/* Writes a line at the given level through the default backend itself. */
static void backendLine(int32_t level, const char *format, ...) LPA_PRINTF_FORMAT(2, 3);
static void backendLine(int32_t level, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    logWriteMessage(level, format, args);
    va_end(args);
}


/* ---- default backend ------------------------------------------------- */

extern "C" void logOpen(const char *logPath, const char *backupPath)
{
    if (s_logFile != NULL || logPath == NULL || backupPath == NULL) {
        return;
    }
    if (strlen(logPath) >= LPA_LOG_PATH_MAX || strlen(backupPath) >= LPA_LOG_PATH_MAX) {
        return;
    }
    snprintf(s_logPath, sizeof(s_logPath), "%s", logPath);
    snprintf(s_backupPath, sizeof(s_backupPath), "%s", backupPath);
    if (s_logRotation) {
        long size = pathFileSize(s_logPath);
        if (size >= 0 && size > (long)s_logMaxSize) {
            moveLogToBackup();
        }
    }
    s_logFile = fopen(s_logPath, "at");
}

extern "C" void logFlush(void)
{
    if (s_logFile != NULL) {
        fflush(s_logFile);
    }
}

extern "C" bool logIsOpen(void)
{
    return s_logFile != NULL;
}

extern "C" void logClose(void)
{
    if (s_logFile != NULL) {
        fclose(s_logFile);
        s_logFile = NULL;
    }
}

extern "C" void logSetRotation(bool on)
{
    s_logRotation = on;
}

extern "C" void logSetLevel(int32_t level)
{
    s_logLevel = level;
}

extern "C" int32_t logGetLevel(void)
{
    return s_logLevel;
}

extern "C" bool logSetMaxSize(int32_t bytes)
{
    if (bytes <= 65536) {
        return false;
    }
    s_logMaxSize = bytes;
    return true;
}

extern "C" int32_t logGetMaxSize(void)
{
    return s_logMaxSize;
}

extern "C" void logRotateIfNeeded(void)
{
    if (s_logFile == NULL || !s_logRotation) {
        return;
    }
    ++s_logWriteCounter;
    if (s_logWriteCounter <= LPA_LOG_ROTATION_CHECK_EVERY) {
        return;
    }
    s_logWriteCounter = 0;
    long size = openFileSize(s_logFile);
    if (size < 0 || size <= (long)s_logMaxSize) {
        return;
    }
    fclose(s_logFile);
    s_logFile = NULL;
    if (moveLogToBackup()) {
        s_logFile = fopen(s_logPath, "at");
    } else {
        s_logFile = fopen(s_logPath, "wt");
    }
}

extern "C" void logWriteMessage(int32_t level, const char *format, va_list args)
{
    if (s_logFile == NULL || level < s_logLevel || format == NULL) {
        return;
    }
    memset(s_message, 0, sizeof(s_message));
    takeTimestamp();

    va_list second;
    va_copy(second, args);
    int length = vsnprintf(s_message, sizeof(s_message), format, args);
    const char *text = s_message;
    char *block = NULL;
    if (length >= (int)sizeof(s_message)) {
        size_t blockSize = (size_t)length + 1;
        if (blockSize > LPA_LOG_LONG_MESSAGE_MAX) {
            blockSize = LPA_LOG_LONG_MESSAGE_MAX;
        }
        /* The allocator logs through this backend: the static buffers are
         * overwritten and the file may have been rotated meanwhile. */
        block = (char *)LPA_MALLOC(blockSize);
        takeTimestamp();
        if (block != NULL) {
            length = vsnprintf(block, blockSize, format, second);
            text = block;
        } else {
            memset(s_message, 0, sizeof(s_message));
            length = vsnprintf(s_message, sizeof(s_message), format, second);
        }
    }
    va_end(second);

    if (s_logFile != NULL) {
        fprintf(s_logFile, "%s | %s", s_timestamp, levelName(level));
        if (length > 0) {
            fprintf(s_logFile, " | %s\n", text);
        } else {
            fputs(" | ---Unable to format message --- \n", s_logFile);
        }
    }
    if (block != NULL) {
        LPA_FREE(block);
    }
    logFlush();
    logRotateIfNeeded();
}

extern "C" void logWriteText(int32_t level, const char *title, const char *text, size_t length)
{
    if (s_logFile == NULL || level < s_logLevel || title == NULL || text == NULL || length == 0) {
        return;
    }
    takeTimestamp();
    const char *name = levelName(level);
    fprintf(s_logFile, "%s | %s | %s\n", s_timestamp, name, title);
    size_t offset = 0;
    while (offset < length) {
        size_t lineLength = length - offset;
        if (lineLength > LPA_LOG_TEXT_LINE_LENGTH) {
            lineLength = LPA_LOG_TEXT_LINE_LENGTH;
        }
        fprintf(s_logFile, "%s | %s |    ", s_timestamp, name);
        fwrite(text + offset, 1, lineLength, s_logFile);
        fputc('\n', s_logFile);
        if (lineLength == LPA_LOG_TEXT_LINE_LENGTH) {
            fflush(s_logFile);
        }
        offset += lineLength;
    }
    logFlush();
    logRotateIfNeeded();
}

extern "C" void logWriteHexDump(int32_t level, const char *title, const char *label,
                                const uint8_t *bytes, size_t length)
{
    if (s_logFile == NULL || level < s_logLevel) {
        return;
    }
    if (title != NULL) {
        /* The title is a format string whose arguments are the label and
         * the byte pointer; callers pass literals without conversions. */
        lpaCoreLog(level, title, label, bytes);
    }
    if (bytes == NULL || length == 0 || label == NULL) {
        return;
    }
    const char *name = levelName(level);
    for (size_t offset = 0; offset < length; offset += LPA_LOG_HEX_CHUNK) {
        /* The title line may have rotated the file; read it per chunk. */
        if (s_logFile == NULL) {
            return;
        }
        size_t chunk = length - offset;
        if (chunk > LPA_LOG_HEX_CHUNK) {
            chunk = LPA_LOG_HEX_CHUNK;
        }
        takeTimestamp();
        memset(s_message, 0, sizeof(s_message));
        if (chunk >= 2) {
            snprintf(s_message, sizeof(s_message), "%s [%d-%d] : ", label, (int)offset,
                     (int)(offset + chunk - 1));
            fprintf(s_logFile, "%s | %s | %s", s_timestamp, name, s_message);
            for (size_t i = 0; i < chunk; ++i) {
                fprintf(s_logFile, " %02X", (unsigned int)bytes[offset + i]);
            }
            fputc('\n', s_logFile);
        } else {
            snprintf(s_message, sizeof(s_message), "%s [%d] : %02X", label, (int)offset,
                     (unsigned int)bytes[offset]);
            fprintf(s_logFile, "%s | %s | %s \n", s_timestamp, name, s_message);
        }
        fflush(s_logFile);
    }
    logRotateIfNeeded();
}

extern "C" bool logSetLevelByName(const char *name)
{
    if (name == NULL) {
        return false;
    }
    for (const LpaLogLevel *row = lpaLogLevelTable; row->name != NULL; ++row) {
        size_t rowLength = strlen(row->name);
        size_t i = 0;
        while (i < rowLength && name[i] != '\0' &&
               toupper((unsigned char)name[i]) == toupper((unsigned char)row->name[i])) {
            ++i;
        }
        if (i != rowLength) {
            continue;
        }
        if (!row->selectable) {
            backendLine(LPA_LOG_LEVEL_SYS, "Unable to select '%s' log level  (internal usage only)",
                        row->name);
            return false;
        }
        if (row->level == s_logLevel) {
            backendLine(LPA_LOG_LEVEL_SYS, "Log level already to '%s'", row->name);
            return true;
        }
        backendLine(LPA_LOG_LEVEL_SYS, "Updating log level to '%s' ( '%s' previously)", row->name,
                    levelName(s_logLevel));
        s_logLevel = row->level;
        return true;
    }
    return false;
}

/* ---- hook table and trampolines --------------------------------------- */

extern "C" void lpaCoreLogInstallDefaultBackend(void)
{
    lpaLogHooks.open = logOpen;
    lpaLogHooks.flush = logFlush;
    lpaLogHooks.isOpen = logIsOpen;
    lpaLogHooks.close = logClose;
    lpaLogHooks.setRotation = logSetRotation;
    lpaLogHooks.setLevel = logSetLevel;
    lpaLogHooks.getLevel = logGetLevel;
    lpaLogHooks.setMaxSize = logSetMaxSize;
    lpaLogHooks.getMaxSize = logGetMaxSize;
    lpaLogHooks.message = logWriteMessage;
    lpaLogHooks.text = logWriteText;
    lpaLogHooks.hexDump = logWriteHexDump;
    s_logRotation = false;
    lpaLogHooks.installed = true;
}

extern "C" LPA_API void lpaCoreLog(int32_t level, const char *format, ...)
{
    if (!lpaLogHooks.installed || lpaLogHooks.message == NULL) {
        return;
    }
    va_list args;
    va_start(args, format);
    lpaLogHooks.message(level, format, args);
    va_end(args);
}

extern "C" LPA_API void lpaCoreLogFlush(void)
{
    if (lpaLogHooks.installed && lpaLogHooks.flush != NULL) {
        lpaLogHooks.flush();
    }
}

extern "C" LPA_API void lpaCoreLogSetLevel(int32_t level)
{
    if (lpaLogHooks.installed && lpaLogHooks.setLevel != NULL) {
        lpaLogHooks.setLevel(level);
    }
}

extern "C" int32_t lpaCoreLogGetMaxSize(void)
{
    if (lpaLogHooks.installed && lpaLogHooks.getMaxSize != NULL) {
        return lpaLogHooks.getMaxSize();
    }
    return 0;
}

extern "C" void lpaCoreLogText(int32_t level, const char *title, const char *text, size_t length)
{
    if (lpaLogHooks.installed && lpaLogHooks.text != NULL) {
        lpaLogHooks.text(level, title, text, length);
    }
}

extern "C" void lpaCoreLogHexDump(int32_t level, const char *title, const char *label,
                                  const uint8_t *bytes, size_t length)
{
    if (lpaLogHooks.installed && lpaLogHooks.hexDump != NULL) {
        lpaLogHooks.hexDump(level, title, label, bytes, length);
    }
}

char lpaManagerEventText[LPA_MANAGER_EVENT_TEXT_SIZE];

void lpaManagerLogHexDumpTitled(int32_t level, const char *label, const uint8_t *bytes, size_t length,
                                const char *titleFormat, ...)
{
    va_list args;
    va_start(args, titleFormat);
    vsnprintf(lpaManagerEventText, sizeof(lpaManagerEventText), titleFormat, args);
    va_end(args);
    lpaCoreLogHexDump(level, lpaManagerEventText, label, bytes, length);
}
