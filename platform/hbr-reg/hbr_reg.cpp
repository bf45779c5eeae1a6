// hbr-reg: the registry store from the command line, in the syntax of the
// Windows registry tool:
//   hbr-reg add    <key> [/v name | /ve] [/t type] [/s sep] [/d data] [/f]
//   hbr-reg query  <key> [/v name | /ve] [/s]
//   hbr-reg delete <key> [/v name | /ve | /va] [/f]
// <key> starts with HKLM or HKEY_LOCAL_MACHINE. Types: REG_SZ (stored as
// the text plus a NUL), REG_MULTI_SZ and REG_DWORD (decimal or 0x hex).
// Exit status 0 on success, 1 with "ERROR: ..." on stderr otherwise.
#include <windows.h>
#include <hbr_registry.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include <strings.h>

namespace {

const char kRootName[] = "HKEY_LOCAL_MACHINE";

struct Options {
    std::string command;
    std::string keyPath; // below HKEY_LOCAL_MACHINE, no trailing backslash
    bool haveValue = false;
    std::string valueName; // "" with /ve
    bool allValues = false;
    bool haveType = false;
    std::string type = "REG_SZ";
    bool haveData = false;
    std::string data;
    bool haveSeparator = false;
    char separator = 0;
    bool force = false;
    bool recurse = false;
};

int Fail(const std::string &message)
{
    std::fprintf(stderr, "ERROR: %s\n", message.c_str());
    return 1;
}

int SyntaxError()
{
    std::fprintf(stderr, "ERROR: Invalid syntax.\nType \"hbr-reg /?\" for usage.\n");
    return 1;
}

int StatusError(LSTATUS rc)
{
    const char *text;
    switch (rc) {
    case ERROR_FILE_NOT_FOUND:
        text = "The system cannot find the file specified.";
        break;
    case ERROR_ACCESS_DENIED:
        text = "Access is denied.";
        break;
    case ERROR_INVALID_PARAMETER:
        text = "The parameter is incorrect.";
        break;
    case 1015: // ERROR_REGISTRY_CORRUPT
        text = "The registry is corrupted.";
        break;
    case ERROR_KEY_DELETED:
        text = "Illegal operation attempted on a registry key that has been marked for deletion.";
        break;
    case ERROR_SERVICE_ALREADY_RUNNING:
        text = "An instance of the service is already running.";
        break;
    case 1117: // ERROR_IO_DEVICE
        text = "The request could not be performed because of an I/O device error.";
        break;
    default:
        text = "The registry operation failed.";
        break;
    }
    return Fail(std::string(text) + " (error " + std::to_string(rc) + ")");
}

bool IEquals(const std::string &a, const char *b)
{
    return strcasecmp(a.c_str(), b) == 0;
}

bool ParseKey(const std::string &text, std::string *path)
{
    std::string rest;
    for (const char *root : {"HKLM", kRootName}) {
        size_t n = std::strlen(root);
        if (text.size() >= n && strncasecmp(text.c_str(), root, n) == 0 &&
            (text.size() == n || text[n] == '\\')) {
            rest = text.size() > n ? text.substr(n + 1) : std::string();
            while (!rest.empty() && rest.back() == '\\') {
                rest.pop_back();
            }
            *path = rest;
            return true;
        }
    }
    return false;
}

bool ParseDword(const std::string &text, DWORD *out)
{
    if (text.empty()) {
        return false;
    }
    const char *s = text.c_str();
    int base = 10;
    if (text.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s += 2;
    }
    for (const char *p = s; *p; ++p) {
        bool ok = base == 16 ? std::isxdigit(static_cast<unsigned char>(*p)) != 0
                             : (*p >= '0' && *p <= '9');
        if (!ok) {
            return false;
        }
    }
    errno = 0;
    unsigned long long v = std::strtoull(s, nullptr, base);
    if (errno != 0 || v > 0xFFFFFFFFull) {
        return false;
    }
    *out = static_cast<DWORD>(v);
    return true;
}

bool Confirm(const std::string &question)
{
    std::printf("%s (Yes/No)? ", question.c_str());
    std::fflush(stdout);
    std::string answer;
    if (!std::getline(std::cin, answer)) {
        return false;
    }
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

std::string TypeName(DWORD type)
{
    switch (type) {
    case REG_NONE: return "REG_NONE";
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case REG_BINARY: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    case REG_MULTI_SZ: return "REG_MULTI_SZ";
    case REG_QWORD: return "REG_QWORD";
    default: {
        char buf[32];
        std::snprintf(buf, sizeof buf, "REG_0x%X", static_cast<unsigned>(type));
        return buf;
    }
    }
}

std::string HexBytes(const std::vector<BYTE> &data)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (BYTE b : data) {
        out += hex[b >> 4];
        out += hex[b & 15];
    }
    return out;
}

std::string DataText(DWORD type, const std::vector<BYTE> &data)
{
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
        std::string s(data.begin(), data.end());
        size_t nul = s.find('\0');
        return nul == std::string::npos ? s : s.substr(0, nul);
    }
    case REG_DWORD:
        if (data.size() == 4) {
            DWORD v = static_cast<DWORD>(data[0]) | static_cast<DWORD>(data[1]) << 8 |
                      static_cast<DWORD>(data[2]) << 16 | static_cast<DWORD>(data[3]) << 24;
            char buf[16];
            std::snprintf(buf, sizeof buf, "0x%x", static_cast<unsigned>(v));
            return buf;
        }
        return HexBytes(data);
    case REG_MULTI_SZ: {
        std::vector<std::string> parts;
        std::string cur;
        for (size_t i = 0; i < data.size(); ++i) {
            if (data[i] == 0) {
                if (cur.empty()) break; // the closing empty string
                parts.push_back(cur);
                cur.clear();
            } else {
                cur += static_cast<char>(data[i]);
            }
        }
        if (!cur.empty()) parts.push_back(cur);
        std::string out;
        for (size_t i = 0; i < parts.size(); ++i) {
            if (i) out += "\\0";
            out += parts[i];
        }
        return out;
    }
    default:
        return HexBytes(data);
    }
}

void PrintValue(const HbrRegValue &v)
{
    std::printf("    %s    %s    %s\n", v.name.empty() ? "(Default)" : v.name.c_str(), TypeName(v.type).c_str(),
                DataText(v.type, v.data).c_str());
}

std::string FullName(const std::string &path)
{
    return path.empty() ? std::string(kRootName) : std::string(kRootName) + "\\" + path;
}

std::string Child(const std::string &path, const std::string &name)
{
    return path.empty() ? name : path + "\\" + name;
}

LSTATUS QueryTree(const std::string &path, bool recurse)
{
    HKEY key;
    LSTATUS rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key);
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    std::vector<HbrRegValue> values;
    std::vector<std::string> subkeys;
    rc = hbrRegListValues(key, &values);
    if (rc == ERROR_SUCCESS) {
        rc = hbrRegListSubkeys(key, &subkeys);
    }
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    std::printf("\n%s\n", FullName(path).c_str());
    for (const auto &v : values) {
        PrintValue(v);
    }
    if (recurse) {
        for (const auto &s : subkeys) {
            rc = QueryTree(Child(path, s), true);
            if (rc != ERROR_SUCCESS) {
                return rc;
            }
        }
    } else {
        if (!subkeys.empty()) {
            std::printf("\n");
        }
        for (const auto &s : subkeys) {
            std::printf("%s\n", FullName(Child(path, s)).c_str());
        }
    }
    return ERROR_SUCCESS;
}

int DoQuery(const Options &o)
{
    if (o.haveType || o.haveData || o.force || o.allValues) {
        return SyntaxError();
    }
    if (!o.haveValue) {
        LSTATUS rc = QueryTree(o.keyPath, o.recurse);
        return rc == ERROR_SUCCESS ? 0 : StatusError(rc);
    }
    HKEY key;
    LSTATUS rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, o.keyPath.c_str(), 0, KEY_READ, &key);
    if (rc != ERROR_SUCCESS) {
        return StatusError(rc);
    }
    std::vector<HbrRegValue> values;
    rc = hbrRegListValues(key, &values);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) {
        return StatusError(rc);
    }
    for (const auto &v : values) {
        if (strcasecmp(v.name.c_str(), o.valueName.c_str()) == 0) {
            std::printf("\n%s\n", FullName(o.keyPath).c_str());
            PrintValue(v);
            std::printf("\n");
            return 0;
        }
    }
    return StatusError(ERROR_FILE_NOT_FOUND);
}

int DoAdd(const Options &o)
{
    if (o.allValues || o.recurse) {
        return SyntaxError();
    }
    if (o.keyPath.empty()) {
        return Fail("Invalid key name.");
    }
    DWORD type;
    std::vector<BYTE> bytes;
    if (IEquals(o.type, "REG_SZ")) {
        type = REG_SZ;
        bytes.assign(o.data.begin(), o.data.end());
        bytes.push_back(0);
    } else if (IEquals(o.type, "REG_MULTI_SZ")) {
        type = REG_MULTI_SZ;
        std::vector<std::string> parts;
        if (!o.data.empty()) {
            std::string cur;
            for (size_t i = 0; i < o.data.size(); ++i) {
                bool sep = o.haveSeparator ? o.data[i] == o.separator
                                           : (o.data[i] == '\\' && i + 1 < o.data.size() && o.data[i + 1] == '0');
                if (sep) {
                    parts.push_back(cur);
                    cur.clear();
                    if (!o.haveSeparator) ++i;
                } else {
                    cur += o.data[i];
                }
            }
            parts.push_back(cur);
        }
        for (const auto &p : parts) {
            if (p.empty()) {
                return Fail("Invalid data: REG_MULTI_SZ strings cannot be empty.");
            }
            bytes.insert(bytes.end(), p.begin(), p.end());
            bytes.push_back(0);
        }
        bytes.push_back(0);
    } else if (IEquals(o.type, "REG_DWORD")) {
        type = REG_DWORD;
        DWORD v = 0;
        if (o.haveData && !ParseDword(o.data, &v)) {
            return Fail("Invalid data for REG_DWORD: " + o.data);
        }
        for (int i = 0; i < 4; ++i) {
            bytes.push_back(static_cast<BYTE>(v >> (8 * i)));
        }
    } else {
        return Fail("Invalid type: " + o.type + " (REG_SZ, REG_MULTI_SZ or REG_DWORD).");
    }
    if (o.haveSeparator && type != REG_MULTI_SZ) {
        return SyntaxError();
    }

    // The first key of the path that does not exist yet: a failed add
    // removes the chain it made from there.
    std::string created;
    for (size_t at = 0; created.empty() && at != std::string::npos;) {
        at = o.keyPath.find('\\', at + 1);
        std::string prefix = o.keyPath.substr(0, at);
        HKEY probe;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, prefix.c_str(), 0, KEY_READ, &probe) == ERROR_SUCCESS) {
            RegCloseKey(probe);
        } else {
            created = prefix;
        }
    }
    HKEY key;
    LSTATUS rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, o.keyPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                 nullptr);
    if (rc != ERROR_SUCCESS) {
        return StatusError(rc);
    }
    std::string aside; // where a damaged value file of the key went
    if (o.haveValue) {
        if (!o.force && RegQueryValueExA(key, o.valueName.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
            !Confirm("Value " + (o.valueName.empty() ? std::string("(Default)") : o.valueName) + " exists, overwrite")) {
            RegCloseKey(key);
            return Fail("The operation was canceled by the user.");
        }
        rc = hbrRegSetValue(key, o.valueName.c_str(), type, bytes.data(), static_cast<DWORD>(bytes.size()), &aside);
    }
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) {
        if (!created.empty()) {
            RegDeleteTreeA(HKEY_LOCAL_MACHINE, created.c_str());
        }
        return StatusError(rc);
    }
    if (!aside.empty()) {
        std::printf("The damaged value file was moved aside as %s.\n", aside.c_str());
    }
    std::printf("The operation completed successfully.\n");
    return 0;
}

int DoDelete(const Options &o)
{
    if (o.haveType || o.haveData || o.recurse || (o.haveValue && o.allValues)) {
        return SyntaxError();
    }
    if (!o.haveValue && !o.allValues) {
        if (o.keyPath.empty()) {
            return Fail("Invalid key name.");
        }
        if (!o.force && !Confirm("Permanently delete the registry key " + FullName(o.keyPath))) {
            return Fail("The operation was canceled by the user.");
        }
        LSTATUS rc = RegDeleteTreeA(HKEY_LOCAL_MACHINE, o.keyPath.c_str());
        if (rc != ERROR_SUCCESS) {
            return StatusError(rc);
        }
        std::printf("The operation completed successfully.\n");
        return 0;
    }
    HKEY key;
    LSTATUS rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, o.keyPath.c_str(), 0, KEY_ALL_ACCESS, &key);
    if (rc != ERROR_SUCCESS) {
        return StatusError(rc);
    }
    std::string what = o.allValues ? "all values under " + FullName(o.keyPath)
                                   : "the registry value " + (o.valueName.empty() ? std::string("(Default)") : o.valueName);
    if (!o.force && !Confirm("Delete " + what)) {
        RegCloseKey(key);
        return Fail("The operation was canceled by the user.");
    }
    if (o.allValues) {
        std::vector<HbrRegValue> values;
        rc = hbrRegListValues(key, &values);
        for (const auto &v : values) {
            if (rc == ERROR_SUCCESS) {
                rc = RegDeleteValueA(key, v.name.c_str());
            }
        }
    } else {
        rc = RegDeleteValueA(key, o.valueName.c_str());
    }
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) {
        return StatusError(rc);
    }
    std::printf("The operation completed successfully.\n");
    return 0;
}

void Usage()
{
    std::printf("Usage:\n"
                "  hbr-reg add    <key> [/v name | /ve] [/t REG_SZ|REG_MULTI_SZ|REG_DWORD] [/s sep] [/d data] [/f]\n"
                "  hbr-reg query  <key> [/v name | /ve] [/s]\n"
                "  hbr-reg delete <key> [/v name | /ve | /va] [/f]\n"
                "<key> is HKLM\\<path> or HKEY_LOCAL_MACHINE\\<path>.\n"
                "The store is the folder named by HBR_REGISTRY_ROOT (default /var/lib/hollowbright/registry).\n");
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 2 && (std::strcmp(argv[1], "/?") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        Usage();
        return 0;
    }
    if (argc < 3) {
        return SyntaxError();
    }
    Options o;
    o.command = argv[1];
    if (!ParseKey(argv[2], &o.keyPath)) {
        return Fail("Invalid key name.");
    }
    bool add = IEquals(o.command, "add");
    for (int i = 3; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&](std::string *out) {
            if (i + 1 >= argc) return false;
            *out = argv[++i];
            return true;
        };
        if (IEquals(a, "/v")) {
            if (o.haveValue || !next(&o.valueName)) return SyntaxError();
            o.haveValue = true;
        } else if (IEquals(a, "/ve")) {
            if (o.haveValue) return SyntaxError();
            o.haveValue = true;
            o.valueName.clear();
        } else if (IEquals(a, "/va")) {
            o.allValues = true;
        } else if (IEquals(a, "/t")) {
            if (o.haveType || !next(&o.type)) return SyntaxError();
            o.haveType = true;
        } else if (IEquals(a, "/d")) {
            if (o.haveData || !next(&o.data)) return SyntaxError();
            o.haveData = true;
        } else if (IEquals(a, "/f")) {
            o.force = true;
        } else if (IEquals(a, "/s")) {
            if (add) {
                std::string sep;
                if (!next(&sep) || sep.size() != 1) return SyntaxError();
                o.haveSeparator = true;
                o.separator = sep[0];
            } else {
                o.recurse = true;
            }
        } else {
            return SyntaxError();
        }
    }
    if (add) {
        return DoAdd(o);
    }
    if (IEquals(o.command, "query")) {
        return DoQuery(o);
    }
    if (IEquals(o.command, "delete")) {
        return DoDelete(o);
    }
    return SyntaxError();
}
