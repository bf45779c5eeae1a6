/*
 * Engine core example: writes "lpa.log" in the folder given on the
 * command line, at every level, with a text dump and a hex dump, and takes
 * and gives back tracked memory blocks, one of them refused on purpose by
 * a fault-injection knob.
 *
 *   lpa_core_example <output folder>
 *
 * Exits 0 only when every block it took was given back.
 */
#include <stdio.h>
#include <string.h>

#include "lpa_core_log.h"
#include "lpa_core_memory.h"
#include "lpa_core_memory_internal.h"

namespace {

bool joinPath(char *out, size_t size, const char *folder, const char *name)
{
    int n = snprintf(out, size, "%s/%s", folder, name);
    return n > 0 && (size_t)n < size;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    char logPath[LPA_LOG_PATH_MAX];
    char backupPath[LPA_LOG_PATH_MAX];
    if (!joinPath(logPath, sizeof(logPath), argv[1], "lpa.log") ||
        !joinPath(backupPath, sizeof(backupPath), argv[1], "lpa.backup.log")) {
        fprintf(stderr, "output folder path too long\n");
        return 2;
    }

    lpaCoreLogInstallDefaultBackend();
    lpaLogHooks.open(logPath, backupPath);
    if (!lpaLogHooks.isOpen()) {
        fprintf(stderr, "cannot open %s\n", logPath);
        return 1;
    }
    lpaLogHooks.setRotation(true);
    lpaCoreLogSetLevel(LPA_LOG_LEVEL_VER);
    LpaCoreMemoryCounters start = lpaCoreMemoryTestCounters();

    lpaCoreLog(LPA_LOG_LEVEL_VER, "++ example() : verbose line %d", 1);
    lpaCoreLog(LPA_LOG_LEVEL_DEB, "debug line, max log size %d bytes", (int)lpaCoreLogGetMaxSize());
    lpaCoreLog(LPA_LOG_LEVEL_INF, "information line");
    lpaCoreLog(LPA_LOG_LEVEL_WAR, "warning line");
    lpaCoreLog(LPA_LOG_LEVEL_ERR, "error line 0x%06X", 0x2001);
    lpaCoreLog(LPA_LOG_LEVEL_SYS, "system line");

    static const char body[] = "{\"transactionId\":\"0123456789ABCDEF\",\"serverSigned1\":\"...\"}";
    lpaCoreLogText(LPA_LOG_LEVEL_INF, "<<  HTTP response:", body, strlen(body));
    static const uint8_t eid[] = {0x89, 0x04, 0x90, 0x32, 0x00, 0x00, 0x00, 0x00,
                                  0x00, 0x00, 0x00, 0x00, 0x12, 0x34, 0x56, 0x78};
    lpaCoreLogHexDump(LPA_LOG_LEVEL_INF, "EID bytes:", "EID", eid, sizeof(eid));

    /* Tracked memory: take, grow, give back; one request refused by knob 4. */
    char *name = (char *)LPA_MALLOC(16);
    uint8_t *buffer = (uint8_t *)LPA_MALLOC(64);
    if (name != NULL) {
        snprintf(name, 16, "%s", "example");
    }
    if (buffer != NULL) {
        memset(buffer, 0x00, 32);
        uint8_t *bigger = (uint8_t *)LPA_REALLOC(buffer, 128);
        if (bigger != NULL) {
            buffer = bigger;
        }
    }
    lpaCoreMemorySetParamGenerateErr(LPA_CORE_MEMORY_GENERATE_ERR_IF_MEMORY_SIZE_REQUESTED_EQ, 100);
    void *refused = LPA_MALLOC(100);
    lpaCoreLog(LPA_LOG_LEVEL_INF, "block of 100 bytes %s", refused == NULL ? "refused as asked" : "NOT refused");
    lpaCoreMemorySetParamGenerateErr(LPA_CORE_MEMORY_GENERATE_ERR_IF_MEMORY_SIZE_REQUESTED_EQ, 0);
    if (refused != NULL) {
        LPA_FREE(refused);
    }
    LPA_FREE(buffer);
    LPA_FREE(name);

    LpaCoreMemoryCounters end = lpaCoreMemoryTestCounters();
    bool balanced = end.liveBlocks == start.liveBlocks && end.liveBytes == start.liveBytes;
    lpaCoreLog(LPA_LOG_LEVEL_INF, "-- example() : %d allocation calls, %d live blocks, %d live bytes",
               (int)end.allocCalls, (int)end.liveBlocks, (int)end.liveBytes);
    lpaLogHooks.close();
    printf("example: %s (%s)\n", balanced ? "every block given back" : "blocks still held", logPath);
    return balanced && refused == NULL ? 0 : 1;
}
