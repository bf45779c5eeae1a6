// CLog: the agent's service log, "HbrAgentService.log" beside the
// executable, rotated past 10 MiB into "HbrAgentServiceBackup.log", plus an
// unrotated stress log. Files are opened and closed around every line.
// Every line is written with the secret values remembered so far masked
// (RememberSecret, secret_mask.h); a line is formatted and masked before
// the log's lock is taken, and one that cannot be for want of memory is
// dropped.
#ifndef HBR_AGENT_CLOG_H
#define HBR_AGENT_CLOG_H

#include <windows.h>

#include <cstdint>
#include <string>

#define HBR_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))

// The folder part of a path: the text up to and including its last '/' or
// '\\'; a text without a separator stays whole.
std::string FolderOfPath(const char *path);

class CLog final {
public:
    // The process-wide log (created on first use, never destroyed), with
    // one more reference.
    static CLog *GetInstance();

    CLog();                            // beside the executable
    explicit CLog(const char *folder); // in a given folder (tests)

    virtual LONG AddRef();
    virtual void WriteLog(int level, const char *format, ...) HBR_PRINTF_FORMAT(3, 4);
    virtual void WriteStressLog(const char *format, ...) HBR_PRINTF_FORMAT(2, 3);
    virtual LONG Release();

    const std::string &LogPath() const { return m_logPath; }
    const std::string &BackupLogPath() const { return m_backupLogPath; }
    const std::string &StressLogPath() const { return m_stressLogPath; }

    // Test-only hooks: reset the process-wide line counter, and make
    // GetInstance return `log` (null restores the real instance).
    static void ResetWriteCountForTest();
    static void SetInstanceForTest(CLog *log);

    static const uint64_t kRotateSize = 10485760; // 10 MiB
    static const size_t kStressMessageLimit = 4095; // characters of a stress-log message

private:
    ~CLog();
    void InitPaths(const std::string &folder);
    void WritePrefix(FILE *file);
    // Under m_lock: the prefix, `message` and a line end appended to the
    // file at `path`; false when it cannot be opened.
    bool AppendLine(const std::string &path, const std::string &message);

    CRITICAL_SECTION m_lock;
    std::string m_stressLogPath;
    std::string m_logPath;
    std::string m_backupLogPath;
    volatile LONG m_refCount;

    static uint64_t s_writeCount; // guarded by m_lock
};

#define HBR_LOG(level, ...) CLog::GetInstance()->WriteLog((level), __VA_ARGS__)
#define HBR_LOG_ERROR(...) HBR_LOG(0, __VA_ARGS__)
#define HBR_LOG_INFO(...) HBR_LOG(2, __VA_ARGS__)

#endif
