// COM ports on termios: CreateFileA("\\.\NAME") opens $HBR_DEV_ROOT/NAME;
// reads and writes follow the port's COMMTIMEOUTS as on Windows, built
// with poll() on CLOCK_MONOTONIC. See docs/platform.md.
#include "objects.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

using namespace hbr;

namespace {

struct File : Object {
    explicit File(int f) : Object(ObjectType::File), fd(f), terminal(isatty(f) != 0) {}
    ~File() override { close(fd); }
    const int fd;
    const bool terminal; // as opened: a hung-up terminal fails isatty()
    std::mutex lock; // guards the fields below
    COMMTIMEOUTS timeouts{};
    DWORD dtrControl = DTR_CONTROL_ENABLE;
    DWORD rtsControl = RTS_CONTROL_ENABLE;
};

int64_t NowMs()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::shared_ptr<File> LookupFile(HANDLE h)
{
    return LookupAs<File>(h, ObjectType::File);
}

// The file behind a comm call: a live handle of a terminal.
std::shared_ptr<File> LookupComm(HANDLE h)
{
    auto file = LookupFile(h);
    if (file && !file->terminal) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return nullptr;
    }
    return file;
}

// LookupComm for a call whose record argument must not be NULL.
std::shared_ptr<File> LookupCommWith(HANDLE h, const void *arg)
{
    auto file = LookupComm(h);
    if (file && arg == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return file;
}

// The file and its time-outs for ReadFile/WriteFile, after the checks both
// share; the count is zeroed.
std::shared_ptr<File> LookupIo(HANDLE h, const void *buffer, DWORD n, LPDWORD count, LPOVERLAPPED overlapped,
                               COMMTIMEOUTS *timeouts)
{
    auto file = LookupFile(h);
    if (!file) {
        return nullptr;
    }
    if (overlapped != nullptr || count == nullptr || (buffer == nullptr && n > 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    *count = 0;
    std::lock_guard<std::mutex> guard(file->lock);
    *timeouts = file->timeouts;
    return file;
}

DWORD ErrnoToError(int err)
{
    switch (err) {
    case ENOENT:
    case ENOTDIR:
        return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
        return ERROR_ACCESS_DENIED;
    default:
        return ERROR_GEN_FAILURE;
    }
}

// Waits for `events` on fd until `deadlineMs` (-1: no deadline). Returns the
// revents, 0 on time-out. EINTR resumes the wait.
short WaitFd(int fd, short events, int64_t deadlineMs)
{
    for (;;) {
        int timeout = -1;
        if (deadlineMs >= 0) {
            int64_t left = deadlineMs - NowMs();
            if (left <= 0) {
                return 0;
            }
            timeout = left > INT_MAX ? INT_MAX : static_cast<int>(left);
        }
        struct pollfd p = {fd, events, 0};
        int rc = poll(&p, 1, timeout);
        if (rc > 0) {
            return p.revents;
        }
        if (rc < 0 && errno != EINTR) {
            return POLLERR;
        }
    }
}

struct BaudEntry {
    DWORD rate;
    speed_t speed;
};
const BaudEntry kBauds[] = {
    {50, B50},         {75, B75},         {110, B110},         {134, B134},         {150, B150},
    {200, B200},       {300, B300},       {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000}, {921600, B921600}, {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

} // namespace

extern "C" HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD, LPSECURITY_ATTRIBUTES,
                                     DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE hTemplateFile)
{
    if (dwCreationDisposition != OPEN_EXISTING || dwFlagsAndAttributes != 0 || hTemplateFile != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    static const char kPrefix[] = "\\\\.\\";
    if (lpFileName == nullptr || std::strncmp(lpFileName, kPrefix, 4) != 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::string name = lpFileName + 4;
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    const char *env = std::getenv("HBR_DEV_ROOT");
    std::string path = std::string(env != nullptr && env[0] != '\0' ? env : "/dev") + "/" + name;
    if (path.size() >= PATH_MAX) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return INVALID_HANDLE_VALUE;
    }
    bool read = (dwDesiredAccess & GENERIC_READ) != 0;
    bool write = (dwDesiredAccess & GENERIC_WRITE) != 0;
    int mode = read && !write ? O_RDONLY : write && !read ? O_WRONLY : O_RDWR;
    int fd = open(path.c_str(), mode | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        SetLastError(ErrnoToError(errno));
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_SUCCESS); // not the error an earlier call left behind
    return InsertHandle(std::make_shared<File>(fd));
}

extern "C" BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                                LPOVERLAPPED lpOverlapped)
{
    COMMTIMEOUTS t;
    auto file = LookupIo(hFile, lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead, lpOverlapped, &t);
    if (!file) {
        return FALSE;
    }
    if (nNumberOfBytesToRead == 0) {
        return TRUE;
    }
    bool immediate = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
                     t.ReadTotalTimeoutConstant == 0;
    if (!immediate && (t.ReadIntervalTimeout == MAXDWORD || t.ReadTotalTimeoutMultiplier == MAXDWORD ||
                       t.ReadTotalTimeoutConstant == MAXDWORD)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const int64_t start = NowMs();
    const int64_t total = static_cast<int64_t>(t.ReadTotalTimeoutMultiplier) * nNumberOfBytesToRead +
                          static_cast<int64_t>(t.ReadTotalTimeoutConstant);
    const int64_t totalDeadline = immediate ? start : total != 0 ? start + total : -1;
    char *buf = static_cast<char *>(lpBuffer);
    DWORD got = 0;
    int64_t lastByte = -1;
    while (got < nNumberOfBytesToRead) {
        ssize_t n = read(file->fd, buf + got, nNumberOfBytesToRead - got);
        if (n > 0) {
            got += static_cast<DWORD>(n);
            lastByte = NowMs();
            continue;
        }
        if (n == 0 && !file->terminal) {
            *lpNumberOfBytesRead = got; // end of a plain file
            return TRUE;
        }
        if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            break; // the peer hung up (EIO on a pty)
        }
        if (errno == EINTR) {
            continue;
        }
        int64_t deadline = totalDeadline;
        if (lastByte >= 0 && t.ReadIntervalTimeout != 0 && !immediate) {
            int64_t interval = lastByte + t.ReadIntervalTimeout;
            deadline = deadline < 0 || interval < deadline ? interval : deadline;
        }
        short revents = WaitFd(file->fd, POLLIN, deadline);
        if (revents == 0) {
            *lpNumberOfBytesRead = got;
            return TRUE; // a time-out
        }
        if ((revents & POLLIN) == 0) {
            break; // POLLHUP or POLLERR without data
        }
    }
    *lpNumberOfBytesRead = got;
    if (got == nNumberOfBytesToRead || got > 0) {
        return TRUE;
    }
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
}

extern "C" BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                                 LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped)
{
    COMMTIMEOUTS t;
    auto file = LookupIo(hFile, lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten, lpOverlapped, &t);
    if (!file) {
        return FALSE;
    }
    const int64_t total = static_cast<int64_t>(t.WriteTotalTimeoutMultiplier) * nNumberOfBytesToWrite +
                          static_cast<int64_t>(t.WriteTotalTimeoutConstant);
    const int64_t deadline = total != 0 ? NowMs() + total : -1;
    const char *buf = static_cast<const char *>(lpBuffer);
    DWORD done = 0;
    while (done < nNumberOfBytesToWrite) {
        ssize_t n = write(file->fd, buf + done, nNumberOfBytesToWrite - done);
        if (n > 0) {
            done += static_cast<DWORD>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN) {
            *lpNumberOfBytesWritten = done;
            SetLastError(ErrnoToError(errno));
            return FALSE;
        }
        short revents = WaitFd(file->fd, POLLOUT, deadline);
        if (revents == 0) {
            break; // a time-out: TRUE with the short count
        }
        if ((revents & POLLOUT) == 0) {
            *lpNumberOfBytesWritten = done;
            SetLastError(ERROR_GEN_FAILURE);
            return FALSE;
        }
    }
    *lpNumberOfBytesWritten = done;
    return TRUE;
}

extern "C" BOOL WINAPI SetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts)
{
    auto file = LookupCommWith(hFile, lpCommTimeouts);
    if (!file) {
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(file->lock);
    file->timeouts = *lpCommTimeouts;
    return TRUE;
}

extern "C" BOOL WINAPI GetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts)
{
    auto file = LookupCommWith(hFile, lpCommTimeouts);
    if (!file) {
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(file->lock);
    *lpCommTimeouts = file->timeouts;
    return TRUE;
}

extern "C" BOOL WINAPI GetCommState(HANDLE hFile, LPDCB lpDCB)
{
    auto file = LookupCommWith(hFile, lpDCB);
    if (!file) {
        return FALSE;
    }
    struct termios tio;
    if (tcgetattr(file->fd, &tio) != 0) {
        SetLastError(ErrnoToError(errno));
        return FALSE;
    }
    DCB dcb;
    std::memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof(DCB);
    speed_t speed = cfgetospeed(&tio);
    for (const BaudEntry &b : kBauds) {
        if (b.speed == speed) {
            dcb.BaudRate = b.rate;
        }
    }
    dcb.fBinary = 1;
    dcb.fParity = (tio.c_iflag & INPCK) != 0;
    dcb.fOutxCtsFlow = (tio.c_cflag & CRTSCTS) != 0;
    dcb.fOutX = (tio.c_iflag & IXON) != 0;
    dcb.fInX = (tio.c_iflag & IXOFF) != 0;
    {
        std::lock_guard<std::mutex> guard(file->lock);
        dcb.fDtrControl = file->dtrControl & 3u;
        dcb.fRtsControl = file->rtsControl & 3u;
    }
    switch (tio.c_cflag & CSIZE) {
    case CS5: dcb.ByteSize = 5; break;
    case CS6: dcb.ByteSize = 6; break;
    case CS7: dcb.ByteSize = 7; break;
    default: dcb.ByteSize = 8; break;
    }
    dcb.Parity = (tio.c_cflag & PARENB) == 0 ? NOPARITY : (tio.c_cflag & PARODD) != 0 ? ODDPARITY : EVENPARITY;
    dcb.StopBits = (tio.c_cflag & CSTOPB) == 0 ? ONESTOPBIT : dcb.ByteSize == 5 ? 1 : TWOSTOPBITS;
    dcb.XonChar = static_cast<char>(tio.c_cc[VSTART]);
    dcb.XoffChar = static_cast<char>(tio.c_cc[VSTOP]);
    *lpDCB = dcb;
    return TRUE;
}

extern "C" BOOL WINAPI SetCommState(HANDLE hFile, LPDCB lpDCB)
{
    auto file = LookupCommWith(hFile, lpDCB);
    if (!file) {
        return FALSE;
    }
    const DCB &dcb = *lpDCB;
    speed_t speed = 0;
    bool known = false;
    for (const BaudEntry &b : kBauds) {
        if (b.rate == dcb.BaudRate) {
            speed = b.speed;
            known = true;
        }
    }
    tcflag_t size;
    switch (dcb.ByteSize) {
    case 5: size = CS5; break;
    case 6: size = CS6; break;
    case 7: size = CS7; break;
    case 8: size = CS8; break;
    default: size = 0; break;
    }
    // 1.5 stop bits (1) exist only with 5 data bits.
    bool stopOk = dcb.StopBits == ONESTOPBIT || dcb.StopBits == TWOSTOPBITS || (dcb.StopBits == 1 && dcb.ByteSize == 5);
    if (!known || size == 0 || dcb.Parity > EVENPARITY || !stopOk) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    struct termios tio;
    if (tcgetattr(file->fd, &tio) != 0) {
        SetLastError(ErrnoToError(errno));
        return FALSE;
    }
    cfmakeraw(&tio);
    tio.c_oflag &= ~static_cast<tcflag_t>(ONLCR | OCRNL | ONLRET);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= size;
    if (dcb.Parity != NOPARITY) {
        tio.c_cflag |= PARENB | (dcb.Parity == ODDPARITY ? PARODD : 0);
    }
    if (dcb.fParity) {
        tio.c_iflag |= INPCK;
    }
    if (dcb.StopBits != ONESTOPBIT) {
        tio.c_cflag |= CSTOPB;
    }
    if (dcb.fOutxCtsFlow) {
        tio.c_cflag |= CRTSCTS;
    }
    if (dcb.fOutX) {
        tio.c_iflag |= IXON;
    }
    if (dcb.fInX) {
        tio.c_iflag |= IXOFF;
    }
    if (dcb.fOutX || dcb.fInX) {
        tio.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
        tio.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
    }
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    if (tcsetattr(file->fd, TCSANOW, &tio) != 0) {
        SetLastError(errno == EINVAL ? ERROR_INVALID_PARAMETER : ErrnoToError(errno));
        return FALSE;
    }
    // DTR and RTS; a pty has no modem lines.
    int set = 0, clear = 0;
    (dcb.fDtrControl != DTR_CONTROL_DISABLE ? set : clear) |= TIOCM_DTR;
    (dcb.fRtsControl != RTS_CONTROL_DISABLE ? set : clear) |= TIOCM_RTS;
    for (auto op : {std::make_pair(TIOCMBIS, set), std::make_pair(TIOCMBIC, clear)}) {
        if (op.second != 0 && ioctl(file->fd, op.first, &op.second) != 0 && errno != ENOTTY && errno != EINVAL) {
            SetLastError(ErrnoToError(errno));
            return FALSE;
        }
    }
    std::lock_guard<std::mutex> guard(file->lock);
    file->dtrControl = dcb.fDtrControl;
    file->rtsControl = dcb.fRtsControl;
    return TRUE;
}

extern "C" BOOL WINAPI ClearCommBreak(HANDLE hFile)
{
    auto file = LookupComm(hFile);
    if (!file) {
        return FALSE;
    }
    if (ioctl(file->fd, TIOCCBRK) != 0 && errno != ENOTTY && errno != EINVAL) {
        SetLastError(ErrnoToError(errno));
        return FALSE;
    }
    return TRUE;
}

extern "C" BOOL WINAPI ClearCommError(HANDLE hFile, LPDWORD lpErrors, LPCOMSTAT lpStat)
{
    auto file = LookupComm(hFile);
    if (!file) {
        return FALSE;
    }
    if (lpErrors != nullptr) {
        *lpErrors = 0;
    }
    if (lpStat != nullptr) {
        std::memset(lpStat, 0, sizeof *lpStat);
        int in = 0, out = 0;
        if (ioctl(file->fd, FIONREAD, &in) == 0 && in > 0) {
            lpStat->cbInQue = static_cast<DWORD>(in);
        }
        if (ioctl(file->fd, TIOCOUTQ, &out) == 0 && out > 0) {
            lpStat->cbOutQue = static_cast<DWORD>(out);
        }
    }
    return TRUE;
}

extern "C" BOOL WINAPI PurgeComm(HANDLE hFile, DWORD dwFlags)
{
    auto file = LookupComm(hFile);
    if (!file) {
        return FALSE;
    }
    if (dwFlags != PURGE_RXCLEAR) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (tcflush(file->fd, TCIFLUSH) != 0) {
        SetLastError(ErrnoToError(errno));
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI DeleteFileA(LPCSTR lpFileName)
{
    if (lpFileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (unlink(lpFileName) != 0) {
        SetLastError(ErrnoToError(errno));
        return FALSE;
    }
    return TRUE;
}
