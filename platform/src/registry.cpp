// Registry API on a folder tree. See docs/platform.md for the format:
// <root>/HKLM/<key>/<subkey>/..., each key's values in one ".values" file.
#include "registry_store.h"

#include <hbr_registry.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <new>
#include <stdexcept>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hbr {
namespace {

const char kDefaultRoot[] = "/var/lib/hollowbright/registry";
const char kValuesFile[] = ".values";
const char kValuesMagic[] = "HBRREG1";
const LSTATUS kRegistryCorrupt = 1015; // ERROR_REGISTRY_CORRUPT

LSTATUS FromErrno(int err)
{
    switch (err) {
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case ENOTDIR:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    case ENOSPC:
        return 112; // ERROR_DISK_FULL
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case ENAMETOOLONG:
        return ERROR_INVALID_PARAMETER; // a key name longer than a folder name can be
    default:
        return 1117; // ERROR_IO_DEVICE
    }
}

} // namespace

std::string RegistryRootDir()
{
    const char *env = std::getenv("HBR_REGISTRY_ROOT");
    std::string root = (env != nullptr && *env != '\0') ? env : kDefaultRoot;
    while (root.size() > 1 && root.back() == '/') {
        root.pop_back();
    }
    return root;
}

namespace {

char Lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IEquals(const std::string &a, const std::string &b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) {
            return false;
        }
    }
    return true;
}

std::string LowerCopy(std::string s)
{
    for (char &c : s) {
        c = Lower(c);
    }
    return s;
}

const char kHex[] = "0123456789ABCDEF";

void AppendEscape(std::string &out, unsigned char c)
{
    out += '%';
    out += kHex[c >> 4];
    out += kHex[c & 15];
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string Unescape(const std::string &s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() + 0 && HexDigit(s[i + 1]) >= 0 && HexDigit(s[i + 2]) >= 0) {
            out += static_cast<char>(HexDigit(s[i + 1]) * 16 + HexDigit(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

// Folder name of a key: "/", "%" and a leading "." are written as %XX, so
// no key folder starts with "." (those names belong to the store).
std::string EncodeKeyName(const std::string &name)
{
    std::string out;
    for (size_t i = 0; i < name.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        if (c == '/' || c == '%' || (i == 0 && c == '.')) {
            AppendEscape(out, c);
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// Value names in .values: blanks, controls, "%" and "@" escaped; "@" alone
// is the default value.
std::string EncodeValueName(const std::string &name)
{
    if (name.empty()) {
        return "@";
    }
    std::string out;
    for (unsigned char c : name) {
        if (c <= 0x20 || c >= 0x7F || c == '%' || c == '@') {
            AppendEscape(out, c);
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

} // namespace

std::string DecodeValueName(const std::string &enc)
{
    return enc == "@" ? std::string() : Unescape(enc);
}

namespace {

std::vector<std::string> SplitPath(const char *path)
{
    std::vector<std::string> parts;
    if (path == nullptr) {
        return parts;
    }
    std::string cur;
    for (const char *p = path; *p; ++p) {
        if (*p == '\\') {
            if (!cur.empty()) {
                parts.push_back(cur);
            }
            cur.clear();
        } else {
            cur += *p;
        }
    }
    if (!cur.empty()) {
        parts.push_back(cur);
    }
    return parts;
}

// ---- values file ----
// A decimal number of digits only, at most `max`; nothing can wrap.
bool ParseDecimal(const std::string &text, uint64_t max, uint64_t *out)
{
    if (text.empty() || text.size() > 20) {
        return false;
    }
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        uint64_t digit = static_cast<uint64_t>(c - '0');
        if (value > (max - digit) / 10) {
            return false;
        }
        value = value * 10 + digit;
    }
    *out = value;
    return true;
}

// The fields of a line separated by single blanks.
std::vector<std::string> SplitFields(const std::string &line)
{
    std::vector<std::string> fields(1);
    for (char c : line) {
        if (c == ' ') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

// One value line: "<type> <byte count> <name> <hex or ->". Every field is
// checked against the text actually present; any other shape is corrupt.
bool ParseValueLine(const std::string &line, StoredValue *v)
{
    std::vector<std::string> f = SplitFields(line);
    uint64_t type = 0, count = 0;
    if (f.size() != 4 || !ParseDecimal(f[0], 0xFFFFFFFFu, &type) || !ParseDecimal(f[1], UINT64_MAX, &count) ||
        f[2].empty() || f[3].empty()) {
        return false;
    }
    const std::string &hex = f[3];
    size_t bytes = hex == "-" ? 0 : hex.size() / 2;
    if ((hex != "-" && (hex.size() % 2 != 0 || bytes == 0)) || count != bytes) {
        return false;
    }
    v->type = static_cast<DWORD>(type);
    v->name = DecodeValueName(f[2]);
    v->data.resize(bytes);
    for (size_t i = 0; i < bytes; ++i) {
        int hi = HexDigit(hex[2 * i]), lo = HexDigit(hex[2 * i + 1]);
        if (hi < 0 || lo < 0) {
            return false;
        }
        v->data[i] = static_cast<BYTE>(hi * 16 + lo);
    }
    return true;
}

} // namespace

StoredValue *ValuesFile::Find(const std::string &name)
{
    for (auto &v : values) {
        if (IEquals(v.name, name)) {
            return &v;
        }
    }
    return nullptr;
}

LSTATUS ParseValuesText(const std::string &text, ValuesFile *vf, bool headerOnly)
{
    size_t pos = 0;
    auto nextLine = [&](std::string *line) {
        if (pos >= text.size()) {
            return false;
        }
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) {
            end = text.size();
        }
        line->assign(text, pos, end - pos);
        pos = end + 1;
        return true;
    };
    std::string line;
    std::vector<std::string> header;
    if (!nextLine(&line) || (header = SplitFields(line)).size() != 2 || header[0] != kValuesMagic ||
        !ParseDecimal(header[1], UINT64_MAX, &vf->serial)) {
        return kRegistryCorrupt;
    }
    if (headerOnly) {
        return ERROR_SUCCESS;
    }
    while (nextLine(&line)) {
        if (line.empty()) {
            continue;
        }
        StoredValue v;
        if (!ParseValueLine(line, &v)) {
            return kRegistryCorrupt;
        }
        vf->values.push_back(std::move(v));
    }
    return ERROR_SUCCESS;
}

namespace {

LSTATUS ReadValues(const std::string &dir, ValuesFile *vf, bool headerOnly = false)
{
    std::ifstream in(dir + "/" + kValuesFile, std::ios::binary);
    if (!in) {
        struct stat st;
        if (stat(dir.c_str(), &st) != 0) {
            return FromErrno(errno);
        }
        return ERROR_SUCCESS; // no values yet
    }
    std::string text;
    if (headerOnly) {
        std::getline(in, text);
    } else {
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    if (in.bad()) {
        return 1117;
    }
    return ParseValuesText(text, vf, headerOnly);
}

std::atomic<unsigned> g_tempCounter{0};
const char kTempPrefix[] = ".values.tmp.";

// Removes the temp files of writers that were killed between writing and
// renaming: ".values.tmp.<pid>.<n>" of a process that no longer exists.
// Called under the store lock, so no live writer of this root is between
// the two steps unless its process is alive.
void SweepDeadTemps(const std::string &dir)
{
    DIR *d = opendir(dir.c_str());
    if (d == nullptr) {
        return;
    }
    const size_t prefix = sizeof(kTempPrefix) - 1;
    while (struct dirent *e = readdir(d)) {
        if (std::strncmp(e->d_name, kTempPrefix, prefix) != 0) {
            continue;
        }
        const char *digits = e->d_name + prefix;
        char *end = nullptr;
        errno = 0;
        long pid = std::strtol(digits, &end, 10);
        if (errno != 0 || end == digits || *end != '.' || pid <= 0 || pid == static_cast<long>(getpid())) {
            continue;
        }
        if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
            unlink((dir + "/" + e->d_name).c_str());
        }
    }
    closedir(d);
}

LSTATUS WriteValues(const std::string &dir, const ValuesFile &vf)
{
    SweepDeadTemps(dir);
    std::string text = std::string(kValuesMagic) + " " + std::to_string(vf.serial) + "\n";
    for (const auto &v : vf.values) {
        text += std::to_string(v.type) + " " + std::to_string(v.data.size()) + " " + EncodeValueName(v.name) + " ";
        if (v.data.empty()) {
            text += "-";
        }
        for (BYTE b : v.data) {
            text += kHex[b >> 4];
            text += kHex[b & 15];
        }
        text += "\n";
    }
    std::string tmp = dir + "/" + kTempPrefix + std::to_string(getpid()) + "." + std::to_string(g_tempCounter++);
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return FromErrno(errno);
    }
    size_t off = 0;
    while (off < text.size()) {
        ssize_t n = write(fd, text.data() + off, text.size() - off);
        if (n < 0) {
            if (errno == EINTR) continue;
            int err = errno;
            close(fd);
            unlink(tmp.c_str());
            return FromErrno(err);
        }
        off += static_cast<size_t>(n);
    }
    // The bytes reach the disk before the name does, so a power loss leaves
    // the old file or the new one, never an empty one.
    int err = fsync(fd) != 0 ? errno : 0;
    if (close(fd) != 0 && err == 0) {
        err = errno;
    }
    if (err == 0 && rename(tmp.c_str(), (dir + "/" + kValuesFile).c_str()) != 0) {
        err = errno;
    }
    if (err != 0) {
        unlink(tmp.c_str());
        return FromErrno(err);
    }
    // Then the rename itself. The new file is in place and visible already,
    // so a folder that cannot be synced does not fail the write.
    int folder = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        fsync(folder);
        close(folder);
    }
    return ERROR_SUCCESS;
}

const char kDamagedPrefix[] = ".values.damaged.";

// A damaged ".values" set aside as ".values.damaged.<n>", n the first number
// that names no file yet, so an earlier aside file is never overwritten.
// Called under the store lock. A second link keeps ".values" in place until
// the fresh file replaces it; where the file system has no hard links the
// file is renamed, refusing an existing name.
class DamagedAside {
public:
    explicit DamagedAside(const std::string &dir) : values_(dir + "/" + kValuesFile), dir_(dir) {}

    LSTATUS Move()
    {
        for (unsigned n = 1; n != 0; ++n) {
            path_ = dir_ + "/" + kDamagedPrefix + std::to_string(n);
            if (link(values_.c_str(), path_.c_str()) == 0) {
                return ERROR_SUCCESS;
            }
            if (errno == EPERM || errno == ENOTSUP || errno == EOPNOTSUPP || errno == ENOSYS) {
                if (renameat2(AT_FDCWD, values_.c_str(), AT_FDCWD, path_.c_str(), RENAME_NOREPLACE) == 0) {
                    renamed_ = true;
                    return ERROR_SUCCESS;
                }
            }
            if (errno != EEXIST) {
                path_.clear();
                return FromErrno(errno);
            }
        }
        path_.clear();
        return kRegistryCorrupt;
    }
    // The write of the fresh file failed: the store is left as it was.
    void Undo()
    {
        if (renamed_) {
            rename(path_.c_str(), values_.c_str());
        } else {
            unlink(path_.c_str());
        }
        path_.clear();
    }
    const std::string &path() const { return path_; }

private:
    std::string values_, dir_, path_;
    bool renamed_ = false;
};

// ---- the writers' lock ----
class StoreLock {
public:
    explicit StoreLock(const std::string &root)
    {
        fd_ = open((root + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd_ < 0) {
            status_ = FromErrno(errno);
            return;
        }
        while (flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                status_ = FromErrno(errno);
                return;
            }
        }
    }
    ~StoreLock()
    {
        if (fd_ >= 0) {
            close(fd_); // releases the lock
        }
    }
    LSTATUS status() const { return status_; }

private:
    int fd_ = -1;
    LSTATUS status_ = ERROR_SUCCESS;
};

// ---- folders ----
bool IsStoreEntry(const char *name)
{
    return name[0] == '.';
}

LSTATUS ListChildren(const std::string &dir, std::vector<std::string> *entries)
{
    DIR *d = opendir(dir.c_str());
    if (d == nullptr) {
        return FromErrno(errno);
    }
    while (struct dirent *e = readdir(d)) {
        if (IsStoreEntry(e->d_name)) {
            continue;
        }
        entries->push_back(e->d_name);
    }
    closedir(d);
    return ERROR_SUCCESS;
}

LSTATUS FindChild(const std::string &dir, const std::string &name, std::string *childDir)
{
    std::vector<std::string> entries;
    LSTATUS rc = ListChildren(dir, &entries);
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    for (const auto &e : entries) {
        if (IEquals(Unescape(e), name)) {
            struct stat st;
            std::string path = dir + "/" + e;
            if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
                *childDir = path;
                return ERROR_SUCCESS;
            }
        }
    }
    return ERROR_FILE_NOT_FOUND;
}

LSTATUS MakeDirs(const std::string &path)
{
    std::string cur;
    size_t pos = 0;
    while (pos <= path.size()) {
        size_t next = path.find('/', pos);
        if (next == std::string::npos) {
            next = path.size();
        }
        cur = path.substr(0, next);
        pos = next + 1;
        if (cur.empty()) {
            continue;
        }
        if (mkdir(cur.c_str(), 0755) != 0 && errno != EEXIST) {
            return FromErrno(errno);
        }
        struct stat st;
        if (stat(cur.c_str(), &st) != 0) {
            return FromErrno(errno);
        }
        if (!S_ISDIR(st.st_mode)) {
            return ERROR_ACCESS_DENIED;
        }
    }
    return ERROR_SUCCESS;
}

LSTATUS RemoveTree(const std::string &path)
{
    DIR *d = opendir(path.c_str());
    if (d == nullptr) {
        return FromErrno(errno);
    }
    LSTATUS rc = ERROR_SUCCESS;
    while (struct dirent *e = readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) {
            continue;
        }
        std::string child = path + "/" + e->d_name;
        struct stat st;
        if (lstat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            LSTATUS r = RemoveTree(child);
            if (rc == ERROR_SUCCESS) rc = r;
        } else if (unlink(child.c_str()) != 0 && rc == ERROR_SUCCESS) {
            rc = FromErrno(errno);
        }
    }
    closedir(d);
    if (rmdir(path.c_str()) != 0 && rc == ERROR_SUCCESS) {
        rc = FromErrno(errno);
    }
    return rc;
}

std::atomic<unsigned> g_deleteCounter{0};

// Deleting a key first renames its folder aside, so that it disappears
// from the tree at once, then removes it.
LSTATUS DeleteKeyFolder(const std::string &dir)
{
    size_t slash = dir.rfind('/');
    std::string aside = dir.substr(0, slash) + "/.deleted." + std::to_string(getpid()) + "." +
                        std::to_string(g_deleteCounter++);
    if (rename(dir.c_str(), aside.c_str()) != 0) {
        return FromErrno(errno);
    }
    return RemoveTree(aside);
}

// ---- key handles ----
struct Base {
    std::string root;
    std::string dir;
    std::shared_ptr<Key> key; // null for HKEY_LOCAL_MACHINE
};

LSTATUS CheckAlive(const Key &key)
{
    struct stat st;
    if (stat(key.dir.c_str(), &st) != 0) {
        return (errno == ENOENT) ? ERROR_KEY_DELETED : FromErrno(errno);
    }
    if (st.st_dev != key.dev || st.st_ino != key.ino) {
        return ERROR_KEY_DELETED; // deleted and created again under the same name
    }
    return ERROR_SUCCESS;
}

LSTATUS ResolveBase(HKEY h, Base *base)
{
    if (h == HKEY_LOCAL_MACHINE) {
        base->root = RegistryRootDir();
        base->dir = base->root + "/HKLM";
        return ERROR_SUCCESS;
    }
    auto key = LookupAs<Key>(reinterpret_cast<HANDLE>(h), ObjectType::Key);
    if (!key) {
        return ERROR_INVALID_HANDLE;
    }
    LSTATUS rc = CheckAlive(*key);
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    base->root = key->root;
    base->dir = key->dir;
    base->key = key;
    return ERROR_SUCCESS;
}

LSTATUS WalkExisting(const std::string &start, const std::vector<std::string> &parts, std::string *dir)
{
    struct stat st;
    if (stat(start.c_str(), &st) != 0) {
        return FromErrno(errno);
    }
    if (!S_ISDIR(st.st_mode)) {
        return ERROR_ACCESS_DENIED;
    }
    std::string cur = start;
    for (const auto &p : parts) {
        std::string next;
        LSTATUS rc = FindChild(cur, p, &next);
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
        cur = next;
    }
    *dir = cur;
    return ERROR_SUCCESS;
}

LSTATUS NewKeyHandle(const std::string &root, const std::string &dir, PHKEY out)
{
    struct stat st;
    if (stat(dir.c_str(), &st) != 0) {
        return FromErrno(errno);
    }
    auto key = std::make_shared<Key>();
    key->root = root;
    key->dir = dir;
    key->dev = st.st_dev;
    key->ino = st.st_ino;
    *out = reinterpret_cast<HKEY>(InsertHandle(key));
    return ERROR_SUCCESS;
}

// Reads the values of an open key (no lock: writers replace the file whole).
LSTATUS ReadKeyValues(HKEY h, ValuesFile *vf)
{
    Base base;
    LSTATUS rc = ResolveBase(h, &base);
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    rc = ReadValues(base.dir, vf);
    // The folder of an open key vanished: deleted meanwhile.
    return (rc == ERROR_FILE_NOT_FOUND && base.key) ? ERROR_KEY_DELETED : rc;
}

// Read-modify-write of one key's values under the store lock. With `aside`
// (a value is being set) a damaged value file does not stop the write: the
// key starts afresh, the damaged file is moved aside (its path in *aside)
// and the fresh file's serial is one more than the damaged header's, or 1
// when that cannot be read.
template <class Fn> LSTATUS MutateValues(const Base &base, Fn fn, std::string *aside = nullptr)
{
    StoreLock lock(base.root);
    if (lock.status() != ERROR_SUCCESS) {
        return lock.status();
    }
    if (base.key) {
        LSTATUS alive = CheckAlive(*base.key);
        if (alive != ERROR_SUCCESS) {
            return alive;
        }
    }
    ValuesFile vf;
    LSTATUS rc = ReadValues(base.dir, &vf);
    const bool damaged = rc == kRegistryCorrupt && aside != nullptr;
    if (damaged) {
        vf = ValuesFile();
        if (ReadValues(base.dir, &vf, true) != ERROR_SUCCESS) {
            vf.serial = 0;
        }
        rc = ERROR_SUCCESS;
    }
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    rc = fn(vf);
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    vf.serial++;
    if (!damaged) {
        return WriteValues(base.dir, vf);
    }
    DamagedAside moved(base.dir);
    rc = moved.Move();
    if (rc == ERROR_SUCCESS && (rc = WriteValues(base.dir, vf)) != ERROR_SUCCESS) {
        moved.Undo();
    }
    *aside = moved.path();
    return rc;
}

std::string NameOrDefault(LPCSTR name)
{
    return name != nullptr ? std::string(name) : std::string();
}

} // namespace

// ---- snapshots for the notifier ----
namespace {
void SnapshotInto(const std::string &dir, const std::string &rel, bool subtree, Snapshot *snap)
{
    KeyState ks;
    struct stat st;
    if (stat(dir.c_str(), &st) != 0) {
        return; // gone: absent from the snapshot
    }
    ks.dev = st.st_dev;
    ks.ino = st.st_ino;
    ks.dir = dir;
    ValuesFile vf;
    ReadValues(dir, &vf, true);
    ks.serial = vf.serial;
    std::vector<std::string> entries;
    ListChildren(dir, &entries);
    for (const auto &e : entries) {
        ks.subkeys.push_back(LowerCopy(Unescape(e)));
    }
    std::sort(ks.subkeys.begin(), ks.subkeys.end());
    (*snap)[rel] = ks;
    if (subtree) {
        for (const auto &e : entries) {
            SnapshotInto(dir + "/" + e, rel + "\\" + LowerCopy(Unescape(e)), true, snap);
        }
    }
}
} // namespace

Snapshot TakeSnapshot(const std::string &dir, bool subtree)
{
    Snapshot snap;
    SnapshotInto(dir, "", subtree, &snap);
    return snap;
}

bool SnapshotChanged(const Snapshot &before, const Snapshot &after, DWORD filter)
{
    if (before.size() != after.size()) {
        return true; // a subkey (or the key itself) came or went
    }
    for (const auto &entry : before) {
        auto it = after.find(entry.first);
        if (it == after.end()) {
            return true;
        }
        const KeyState &a = entry.second, &b = it->second;
        if (a.dev != b.dev || a.ino != b.ino) {
            return true;
        }
        if ((filter & REG_NOTIFY_CHANGE_NAME) && a.subkeys != b.subkeys) {
            return true;
        }
        if ((filter & REG_NOTIFY_CHANGE_LAST_SET) && a.serial != b.serial) {
            return true;
        }
    }
    return false;
}

namespace {
// The registry never throws out of a call: a failed allocation, or any
// other exception, becomes the error a Win32 caller expects.
template <class Fn> LSTATUS Guarded(Fn fn)
{
    try {
        return fn();
    } catch (const std::bad_alloc &) {
        return ERROR_NOT_ENOUGH_MEMORY;
    } catch (const std::length_error &) {
        return ERROR_NOT_ENOUGH_MEMORY;
    } catch (...) {
        return 1117; // ERROR_IO_DEVICE
    }
}

} // namespace
} // namespace hbr

using namespace hbr;

extern "C" LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM, PHKEY phkResult)
{
    return Guarded([&]() -> LSTATUS {
        if (phkResult == nullptr) {
            return ERROR_INVALID_PARAMETER;
        }
        Base base;
        LSTATUS rc = ResolveBase(hKey, &base);
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
        std::string dir;
        rc = WalkExisting(base.dir, SplitPath(lpSubKey), &dir);
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
        return NewKeyHandle(base.root, dir, phkResult);
    });
}

extern "C" LSTATUS WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR, DWORD, REGSAM,
                                          const LPSECURITY_ATTRIBUTES, PHKEY phkResult, LPDWORD lpdwDisposition)
{
    return Guarded([&]() -> LSTATUS {
        if (phkResult == nullptr) {
            return ERROR_INVALID_PARAMETER;
        }
        Base base;
        LSTATUS rc = ResolveBase(hKey, &base);
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
        if (!base.key) {
            rc = MakeDirs(base.dir);
            if (rc != ERROR_SUCCESS) {
                return rc;
            }
        }
        StoreLock lock(base.root);
        if (lock.status() != ERROR_SUCCESS) {
            return lock.status();
        }
        if (base.key && (rc = CheckAlive(*base.key)) != ERROR_SUCCESS) {
            return rc;
        }
        std::string cur = base.dir;
        bool created = false;
        std::vector<std::string> made; // removed again when a later step fails
        auto undo = [&made](LSTATUS failure) {
            for (auto it = made.rbegin(); it != made.rend(); ++it) {
                rmdir(it->c_str());
            }
            return failure;
        };
        for (const auto &part : SplitPath(lpSubKey)) {
            std::string next;
            rc = FindChild(cur, part, &next);
            if (rc == ERROR_FILE_NOT_FOUND) {
                next = cur + "/" + EncodeKeyName(part);
                if (mkdir(next.c_str(), 0755) != 0) {
                    return undo(FromErrno(errno));
                }
                made.push_back(next);
                created = true;
            } else if (rc != ERROR_SUCCESS) {
                return undo(rc);
            } else {
                created = false;
            }
            cur = next;
        }
        rc = NewKeyHandle(base.root, cur, phkResult);
        if (rc != ERROR_SUCCESS) {
            return undo(rc);
        }
        if (rc == ERROR_SUCCESS && lpdwDisposition != nullptr) {
            *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
        }
        return rc;
    });
}

extern "C" LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData,
                                           LPDWORD lpcbData)
{
    return Guarded([&]() -> LSTATUS {
        if (lpData != nullptr && lpcbData == nullptr) {
            return ERROR_INVALID_PARAMETER;
        }
        ValuesFile vf;
        LSTATUS rc = ReadKeyValues(hKey, &vf);
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
        StoredValue *v = vf.Find(NameOrDefault(lpValueName));
        if (v == nullptr) {
            return ERROR_FILE_NOT_FOUND;
        }
        if (lpType != nullptr) {
            *lpType = v->type;
        }
        DWORD size = static_cast<DWORD>(v->data.size());
        if (lpData == nullptr) {
            if (lpcbData != nullptr) {
                *lpcbData = size;
            }
            return ERROR_SUCCESS;
        }
        if (*lpcbData < size) {
            *lpcbData = size;
            return ERROR_MORE_DATA;
        }
        if (size > 0) {
            std::memcpy(lpData, v->data.data(), size);
        }
        *lpcbData = size;
        return ERROR_SUCCESS;
    });
}

namespace {
// Sets one value; a damaged value file of the key is moved aside, its path
// in *aside (else cleared).
LSTATUS SetValue(HKEY hKey, LPCSTR lpValueName, DWORD dwType, const BYTE *lpData, DWORD cbData, std::string *aside)
{
    aside->clear();
    return Guarded([&]() -> LSTATUS {
        if (lpData == nullptr && cbData != 0) {
            return ERROR_INVALID_PARAMETER;
        }
        Base base;
        LSTATUS rc = ResolveBase(hKey, &base);
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
        std::string name = NameOrDefault(lpValueName);
        return MutateValues(base, [&](ValuesFile &vf) {
            StoredValue *v = vf.Find(name);
            if (v == nullptr) {
                vf.values.emplace_back();
                v = &vf.values.back();
                v->name = name;
            }
            v->type = dwType;
            v->data.assign(lpData, lpData + cbData);
            return static_cast<LSTATUS>(ERROR_SUCCESS);
        }, aside);
    });
}
} // namespace

extern "C" LSTATUS WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE *lpData,
                                         DWORD cbData)
{
    std::string aside;
    return SetValue(hKey, lpValueName, dwType, lpData, cbData, &aside);
}

extern "C" LSTATUS WINAPI RegSetKeyValueA(HKEY hKey, LPCSTR lpSubKey, LPCSTR lpValueName, DWORD dwType,
                                          LPCVOID lpData, DWORD cbData)
{
    return Guarded([&]() -> LSTATUS {
        if (lpSubKey == nullptr || SplitPath(lpSubKey).empty()) {
            return RegSetValueExA(hKey, lpValueName, 0, dwType, static_cast<const BYTE *>(lpData), cbData);
        }
        HKEY sub = nullptr;
        LSTATUS rc = RegCreateKeyExA(hKey, lpSubKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr);
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
        rc = RegSetValueExA(sub, lpValueName, 0, dwType, static_cast<const BYTE *>(lpData), cbData);
        RegCloseKey(sub);
        return rc;
    });
}

extern "C" LSTATUS WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName)
{
    return Guarded([&]() -> LSTATUS {
        Base base;
        LSTATUS rc = ResolveBase(hKey, &base);
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
        std::string name = NameOrDefault(lpValueName);
        return MutateValues(base, [&](ValuesFile &vf) {
            for (auto it = vf.values.begin(); it != vf.values.end(); ++it) {
                if (IEquals(it->name, name)) {
                    vf.values.erase(it);
                    return static_cast<LSTATUS>(ERROR_SUCCESS);
                }
            }
            return static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND);
        });
    });
}

extern "C" LSTATUS WINAPI RegDeleteTreeA(HKEY hKey, LPCSTR lpSubKey)
{
    return Guarded([&]() -> LSTATUS {
        Base base;
        LSTATUS rc = ResolveBase(hKey, &base);
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
        StoreLock lock(base.root);
        if (lock.status() != ERROR_SUCCESS) {
            return lock.status();
        }
        std::string dir;
        rc = WalkExisting(base.dir, SplitPath(lpSubKey), &dir);
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
        if (dir != base.dir) {
            return DeleteKeyFolder(dir);
        }
        // No subkey: empty the key itself, keeping it.
        std::vector<std::string> entries;
        rc = ListChildren(dir, &entries);
        for (const auto &e : entries) {
            if (rc == ERROR_SUCCESS) {
                rc = DeleteKeyFolder(dir + "/" + e);
            }
        }
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
        ValuesFile vf;
        rc = ReadValues(dir, &vf);
        if (rc == ERROR_SUCCESS && !vf.values.empty()) {
            vf.values.clear();
            vf.serial++;
            rc = WriteValues(dir, vf);
        }
        return rc;
    });
}

extern "C" LSTATUS WINAPI RegNotifyChangeKeyValue(HKEY hKey, BOOL bWatchSubtree, DWORD dwNotifyFilter,
                                                  HANDLE hEvent, BOOL fAsynchronous)
{
    return Guarded([&]() -> LSTATUS {
        if (!fAsynchronous || dwNotifyFilter == 0) {
            return ERROR_INVALID_PARAMETER;
        }
        if (hKey == HKEY_LOCAL_MACHINE) {
            return ERROR_INVALID_HANDLE; // only opened keys can be watched
        }
        Base base;
        LSTATUS rc = ResolveBase(hKey, &base);
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
        auto ev = LookupAs<Waitable>(hEvent, ObjectType::Event);
        if (!ev) {
            return ERROR_INVALID_HANDLE;
        }
        ArmWatch(base.key, bWatchSubtree != FALSE, dwNotifyFilter, ev);
        return ERROR_SUCCESS;
    });
}

extern "C" LSTATUS WINAPI RegCloseKey(HKEY hKey)
{
    return Guarded([&]() -> LSTATUS {
        if (hKey == HKEY_LOCAL_MACHINE) {
            return ERROR_SUCCESS;
        }
        std::shared_ptr<Object> obj = RemoveHandle(reinterpret_cast<HANDLE>(hKey), ObjectType::Key);
        if (!obj) {
            return ERROR_INVALID_HANDLE;
        }
        DropWatches(static_cast<Key *>(obj.get()));
        return ERROR_SUCCESS;
    });
}

// ---- listing for hbr-reg ----
LSTATUS hbrRegListSubkeys(HKEY key, std::vector<std::string> *names)
{
    return Guarded([&]() -> LSTATUS {
        Base base;
        LSTATUS rc = ResolveBase(key, &base);
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
        std::vector<std::string> entries;
        rc = ListChildren(base.dir, &entries);
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
        for (const auto &e : entries) {
            names->push_back(Unescape(e));
        }
        std::sort(names->begin(), names->end(),
                  [](const std::string &a, const std::string &b) { return LowerCopy(a) < LowerCopy(b); });
        return ERROR_SUCCESS;
    });
}

LSTATUS hbrRegListValues(HKEY key, std::vector<HbrRegValue> *values)
{
    return Guarded([&]() -> LSTATUS {
        ValuesFile vf;
        LSTATUS rc = ReadKeyValues(key, &vf);
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
        for (auto &v : vf.values) {
            values->push_back(HbrRegValue{v.name, v.type, v.data});
        }
        return ERROR_SUCCESS;
    });
}

LSTATUS hbrRegSetValue(HKEY key, const char *name, DWORD type, const BYTE *data, DWORD size, std::string *damagedAside)
{
    std::string aside;
    LSTATUS rc = SetValue(key, name, type, data, size, &aside);
    if (damagedAside != nullptr) {
        *damagedAside = aside;
    }
    return rc;
}
