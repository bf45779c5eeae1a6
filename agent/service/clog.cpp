#include "clog.h"

#include "secret_mask.h"

#include <atomic>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include <sys/stat.h>

namespace {
std::atomic<CLog *> g_testInstance{nullptr};
const char kLogName[] = "HbrAgentService.log";
const char kBackupLogName[] = "HbrAgentServiceBackup.log";
} // namespace

uint64_t CLog::s_writeCount = 0;

std::string FolderOfPath(const char *path)
{
    const char *slash = std::strrchr(path, '/');
    const char *backslash = std::strrchr(path, '\\');
    const char *last = slash > backslash ? slash : backslash;
    if (last == nullptr) {
        return path;
    }
    return std::string(path, static_cast<size_t>(last - path) + 1);
}

CLog *CLog::GetInstance()
{
    CLog *test = g_testInstance.load();
    if (test != nullptr) {
        test->AddRef();
        return test;
    }
    // Created once, thread-safely, on first use; never destroyed.
    static CLog *instance = new CLog();
    instance->AddRef();
    return instance;
}

CLog::CLog() : m_refCount(1)
{
    InitializeCriticalSection(&m_lock);
    char path[PATH_MAX];
    std::memset(path, 0, sizeof path);
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    if (n == 0 || n >= sizeof path) {
        return; // no paths: every write fails to open its file
    }
    InitPaths(FolderOfPath(path));
}

CLog::CLog(const char *folder) : m_refCount(1)
{
    InitializeCriticalSection(&m_lock);
    std::string dir = folder;
    if (!dir.empty() && dir.back() != '/' && dir.back() != '\\') {
        dir += '/';
    }
    InitPaths(dir);
}

CLog::~CLog()
{
    DeleteCriticalSection(&m_lock);
}

void CLog::InitPaths(const std::string &folder)
{
    m_backupLogPath = folder + kBackupLogName;
    m_logPath = folder + kLogName;
    SYSTEMTIME st;
    GetLocalTime(&st);
    char name[64];
    std::snprintf(name, sizeof name, "quor_stresstool_%04d%02d%02d%02d%02d.log", st.wYear, st.wMonth, st.wDay,
                  st.wHour, st.wMinute);
    m_stressLogPath = folder + name;
}

LONG CLog::AddRef()
{
    return InterlockedIncrement(&m_refCount);
}

LONG CLog::Release()
{
    LONG count = InterlockedDecrement(&m_refCount);
    if (count == 0) {
        delete this;
    }
    return count;
}

void CLog::ResetWriteCountForTest()
{
    s_writeCount = 0;
}

void CLog::SetInstanceForTest(CLog *log)
{
    g_testInstance.store(log);
}

void CLog::WritePrefix(FILE *file)
{
    SYSTEMTIME st;
    GetLocalTime(&st);
    std::fprintf(file, "%d %02d-%02d %02d:%02d:%02d:%03d : ", static_cast<int>(GetCurrentProcessId()), st.wMonth,
                 st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
}

bool CLog::AppendLine(const std::string &path, const std::string &message)
{
    FILE *file = std::fopen(path.c_str(), "a+");
    if (file == nullptr) {
        return false;
    }
    WritePrefix(file);
    std::fputs(message.c_str(), file);
    std::fputs("\n", file);
    std::fflush(file);
    std::fclose(file);
    return true;
}

namespace {

// The message of a line, formatted and with the remembered secrets masked,
// into `out`; done before the log lock is taken, so that nothing under the
// lock allocates. False when memory ran out: the line is then dropped, as
// it must never be written unmasked.
bool FormatMasked(std::string *out, const char *format, va_list args)
{
    try {
        va_list measure;
        va_copy(measure, args);
        const int length = std::vsnprintf(nullptr, 0, format, measure);
        va_end(measure);
        std::vector<char> message(length > 0 ? static_cast<size_t>(length) + 1 : 1, '\0');
        if (length > 0) {
            std::vsnprintf(message.data(), message.size(), format, args);
        }
        // As text, never as a format (a NUL from the arguments ends it).
        *out = MaskRememberedSecrets(message.data());
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

} // namespace

void CLog::WriteLog(int level, const char *format, ...)
{
    if (level > 5) {
        return;
    }
    std::string message;
    va_list args;
    va_start(args, format);
    const bool formatted = FormatMasked(&message, format, args);
    va_end(args);
    if (!formatted) {
        return;
    }
    EnterCriticalSection(&m_lock);
    // Every sixth written line checks the size and rotates past 10 MiB.
    if (AppendLine(m_logPath, message) && ++s_writeCount > 5) {
        s_writeCount = 0;
        FILE *check = std::fopen(m_logPath.c_str(), "a+");
        if (check != nullptr) {
            struct stat st;
            bool tooBig = fstat(fileno(check), &st) == 0 && static_cast<uint64_t>(st.st_size) > kRotateSize;
            std::fclose(check);
            if (tooBig) {
                struct stat backup;
                if (stat(m_backupLogPath.c_str(), &backup) == 0) {
                    std::remove(m_backupLogPath.c_str());
                }
                std::rename(m_logPath.c_str(), m_backupLogPath.c_str());
            }
        }
    }
    LeaveCriticalSection(&m_lock);
}

void CLog::WriteStressLog(const char *format, ...)
{
    std::string message;
    va_list args;
    va_start(args, format);
    const bool formatted = FormatMasked(&message, format, args);
    va_end(args);
    if (!formatted) {
        return;
    }
    // A longer message is cut to 4,095 characters, after its masking: a
    // secret across the cut leaves nothing of itself behind the mask.
    if (message.size() > kStressMessageLimit) {
        message.resize(kStressMessageLimit);
    }
    EnterCriticalSection(&m_lock);
    AppendLine(m_stressLogPath, message);
    LeaveCriticalSection(&m_lock);
}
