#include <gtest/gtest.h>

#include "test_support.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using hbrtest::RegistryRootTest;

namespace {

class Registry : public RegistryRootTest {
protected:
    HKEY Create(const char *path, DWORD *disposition = nullptr)
    {
        HKEY key = nullptr;
        EXPECT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, disposition));
        return key;
    }
    LSTATUS Open(const char *path, HKEY *key)
    {
        return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, key);
    }
    static void SetDword(HKEY key, const char *name, DWORD v)
    {
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<BYTE *>(&v), sizeof v));
    }
    HANDLE NewEvent() { return events_.emplace_back(CreateEventA(nullptr, TRUE, FALSE, nullptr)); }
    void TearDown() override
    {
        for (HANDLE e : events_) CloseHandle(e);
        RegistryRootTest::TearDown();
    }
    // A notification comes within 1 s; the wait stays below the notifier's
    // 5 s safety poll, so only a reported folder change passes. Silence is
    // checked over 600 ms.
    static bool Fires(HANDLE ev) { return WaitForSingleObject(ev, 2500) == WAIT_OBJECT_0; }
    static bool Silent(HANDLE ev) { return WaitForSingleObject(ev, 600) == WAIT_TIMEOUT; }
    std::vector<HANDLE> events_;
};

TEST_F(Registry, CreateMakesIntermediateKeysAndNamesIgnoreCase)
{
    HKEY missing;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Open("Software\\Acme", &missing));
    DWORD disposition = 0;
    HKEY deep = Create("Software\\Acme\\Tools\\", &disposition);
    EXPECT_EQ(REG_CREATED_NEW_KEY, disposition);
    SetDword(deep, "Level", 3);
    RegCloseKey(deep);

    HKEY again = Create("SOFTWARE\\acme\\TOOLS", &disposition);
    EXPECT_EQ(REG_OPENED_EXISTING_KEY, disposition);
    DWORD v = 0, size = sizeof v, type = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(again, "LEVEL", nullptr, &type, reinterpret_cast<BYTE *>(&v), &size));
    EXPECT_EQ(3u, v);
    EXPECT_EQ(REG_DWORD, type);
    RegCloseKey(again);

    // The key keeps the spelling it was created with.
    struct stat st;
    EXPECT_EQ(0, stat((root() + "/HKLM/Software/Acme/Tools").c_str(), &st));

    HKEY relative;
    HKEY parent;
    ASSERT_EQ(ERROR_SUCCESS, Open("software", &parent));
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(parent, "ACME\\tools\\", 0, KEY_READ, &relative));
    RegCloseKey(relative);
    RegCloseKey(parent);
}

TEST_F(Registry, NullAndEmptyNameAreTheDefaultValue)
{
    HKEY key = Create("K");
    const char text[] = "abc";
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE *>(text), 4));
    char buf[8] = {};
    DWORD size = sizeof buf;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "", nullptr, nullptr, reinterpret_cast<BYTE *>(buf), &size));
    EXPECT_STREQ("abc", buf);
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(key, ""));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(key, nullptr, nullptr, nullptr, nullptr, nullptr));
    RegCloseKey(key);
}

TEST_F(Registry, ValuesComeBackByteExact)
{
    HKEY key = Create("K");
    // REG_SZ with and without its NUL: stored exactly as given.
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "with", 0, REG_SZ, reinterpret_cast<const BYTE *>("hi"), 3));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "without", 0, REG_SZ, reinterpret_cast<const BYTE *>("hi"), 2));
    const BYTE odd[] = {0, 0x25, 0xFF, 0x0A, 0x20};
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "odd name%@", 0, 0x1234, odd, sizeof odd));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "empty", 0, REG_BINARY, nullptr, 0));

    DWORD type = 0, size = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "with", nullptr, &type, nullptr, &size));
    EXPECT_EQ(3u, size);
    EXPECT_EQ(REG_SZ, type);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "without", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(2u, size);

    BYTE buf[16];
    std::memset(buf, 0xAA, sizeof buf);
    size = sizeof buf;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "ODD NAME%@", nullptr, &type, buf, &size));
    EXPECT_EQ(sizeof odd, size);
    EXPECT_EQ(0x1234u, type);
    EXPECT_EQ(0, std::memcmp(odd, buf, sizeof odd));
    EXPECT_EQ(0xAA, buf[sizeof odd]);

    size = sizeof buf;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "empty", nullptr, &type, buf, &size));
    EXPECT_EQ(0u, size);

    // Too small: 234 with the needed size and the type, nothing copied.
    std::memset(buf, 0xAA, sizeof buf);
    size = 2;
    type = 0;
    EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExA(key, "with", nullptr, &type, buf, &size));
    EXPECT_EQ(3u, size);
    EXPECT_EQ(REG_SZ, type);
    EXPECT_EQ(0xAA, buf[0]);

    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(key, "nothing", nullptr, &type, buf, &size));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueA(key, "nothing"));
    RegCloseKey(key);
}

TEST_F(Registry, SetKeyValueCreatesTheSubkey)
{
    HKEY key = Create("Top");
    DWORD v = 9;
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueA(key, "A\\B", "n", REG_DWORD, &v, sizeof v));
    RegCloseKey(key);
    HKEY sub;
    ASSERT_EQ(ERROR_SUCCESS, Open("top\\a\\b", &sub));
    DWORD out = 0, size = sizeof out;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(sub, "n", nullptr, nullptr, reinterpret_cast<BYTE *>(&out), &size));
    EXPECT_EQ(9u, out);
    RegCloseKey(sub);
}

TEST_F(Registry, DeletedKeyUnderAnOpenHandle)
{
    HKEY key = Create("Gone\\Child");
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeA(HKEY_LOCAL_MACHINE, "gone"));
    DWORD v = 1;
    EXPECT_EQ(ERROR_KEY_DELETED, RegSetValueExA(key, "x", 0, REG_DWORD, reinterpret_cast<BYTE *>(&v), 4));
    EXPECT_EQ(ERROR_KEY_DELETED, RegQueryValueExA(key, "x", nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(key));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Nope"));
}

TEST_F(Registry, StoreFailuresAreNeverSuccess)
{
    // A root below a regular file cannot hold a store.
    std::string file = dir_->path() + "/plain";
    hbrtest::WriteFile(file, "x");
    hbrtest::ScopedEnv env("HBR_REGISTRY_ROOT", (file + "/registry").c_str());
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_ACCESS_DENIED,
              RegCreateKeyExA(HKEY_LOCAL_MACHINE, "A", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    EXPECT_NE(ERROR_SUCCESS, Open("A", &key));
}

TEST_F(Registry, RootIsResolvedAtEachOpen)
{
    RegCloseKey(Create("OnlyInFirst"));
    hbrtest::TempDir other;
    {
        hbrtest::ScopedEnv env("HBR_REGISTRY_ROOT", other.path().c_str());
        HKEY key;
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, Open("OnlyInFirst", &key));
    }
    HKEY key;
    EXPECT_EQ(ERROR_SUCCESS, Open("OnlyInFirst", &key));
    RegCloseKey(key);
}

TEST_F(Registry, NotifyFiresOnValueAndSubkeyChangesDeepInTheSubtree)
{
    HKEY watched = Create("W");
    HKEY deep = Create("W\\A\\B");
    HANDLE ev = NewEvent();
    const DWORD filter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;

    ASSERT_EQ(ERROR_SUCCESS, RegNotifyChangeKeyValue(watched, TRUE, filter, ev, TRUE));
    SetDword(deep, "v", 1);
    EXPECT_TRUE(Fires(ev));

    ResetEvent(ev);
    ASSERT_EQ(ERROR_SUCCESS, RegNotifyChangeKeyValue(watched, TRUE, filter, ev, TRUE));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteValueA(deep, "v"));
    EXPECT_TRUE(Fires(ev));

    ResetEvent(ev);
    ASSERT_EQ(ERROR_SUCCESS, RegNotifyChangeKeyValue(watched, TRUE, filter, ev, TRUE));
    RegCloseKey(Create("W\\A\\B\\C"));
    EXPECT_TRUE(Fires(ev));

    ResetEvent(ev);
    ASSERT_EQ(ERROR_SUCCESS, RegNotifyChangeKeyValue(watched, TRUE, filter, ev, TRUE));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeA(HKEY_LOCAL_MACHINE, "W\\A\\B\\C"));
    EXPECT_TRUE(Fires(ev));

    // Without the subtree flag only the key itself counts.
    ResetEvent(ev);
    ASSERT_EQ(ERROR_SUCCESS, RegNotifyChangeKeyValue(watched, FALSE, filter, ev, TRUE));
    SetDword(deep, "v", 2);
    EXPECT_TRUE(Silent(ev));
    SetDword(watched, "own", 2);
    EXPECT_TRUE(Fires(ev));

    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegNotifyChangeKeyValue(watched, TRUE, filter, ev, FALSE));
    RegCloseKey(deep);
    RegCloseKey(watched);
}

TEST_F(Registry, NotifyIgnoresSiblingsAndParent)
{
    HKEY watched = Create("P\\W");
    HKEY sibling = Create("P\\Sibling");
    HKEY parent = Create("P");
    HANDLE ev = NewEvent();
    ASSERT_EQ(ERROR_SUCCESS,
              RegNotifyChangeKeyValue(watched, TRUE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET, ev, TRUE));
    SetDword(sibling, "x", 1);
    SetDword(parent, "x", 1);
    RegCloseKey(Create("P\\Other"));
    EXPECT_TRUE(Silent(ev));
    RegCloseKey(sibling);
    RegCloseKey(parent);
    RegCloseKey(watched);
}

TEST_F(Registry, NotifyIsOneShotAndFiresOncePerChangeWhenRearmed)
{
    HKEY watched = Create("W");
    HANDLE ev = NewEvent();
    const DWORD filter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;
    ASSERT_EQ(ERROR_SUCCESS, RegNotifyChangeKeyValue(watched, TRUE, filter, ev, TRUE));
    SetDword(watched, nullptr, 1);
    EXPECT_TRUE(Fires(ev));
    ResetEvent(ev);
    SetDword(watched, nullptr, 1); // not re-armed: nothing
    EXPECT_TRUE(Silent(ev));

    // Re-armed at once after each notification: one write, one notification,
    // even the same data again.
    ASSERT_EQ(ERROR_SUCCESS, RegNotifyChangeKeyValue(watched, TRUE, filter, ev, TRUE));
    SetDword(watched, nullptr, 1);
    EXPECT_TRUE(Fires(ev));
    ResetEvent(ev);
    ASSERT_EQ(ERROR_SUCCESS, RegNotifyChangeKeyValue(watched, TRUE, filter, ev, TRUE));
    EXPECT_TRUE(Silent(ev));
    SetDword(watched, nullptr, 1);
    EXPECT_TRUE(Fires(ev));

    // Closing the key ends the watch.
    ResetEvent(ev);
    ASSERT_EQ(ERROR_SUCCESS, RegNotifyChangeKeyValue(watched, TRUE, filter, ev, TRUE));
    RegCloseKey(watched);
    HKEY again = Create("W");
    SetDword(again, nullptr, 2);
    EXPECT_TRUE(Silent(ev));
    RegCloseKey(again);
}

TEST_F(Registry, NotifyFiresOnAWriteByAnotherProcess)
{
    HKEY watched = Create("W");
    RegCloseKey(Create("W\\A\\B"));
    HANDLE ev = NewEvent();
    const DWORD filter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;
    ASSERT_EQ(ERROR_SUCCESS, RegNotifyChangeKeyValue(watched, TRUE, filter, ev, TRUE));
    auto r = hbrtest::RunProcess({HBR_REG_PATH, "add", "HKLM\\W\\Deep", "/v", "x", "/t", "REG_DWORD", "/d", "5", "/f"});
    ASSERT_EQ(0, r.exitCode) << r.err;
    EXPECT_TRUE(Fires(ev));

    // A value deep in the subtree, and one in a subkey made after arming.
    for (const char *key : {"HKLM\\W\\A\\B", "HKLM\\W\\Deep"}) {
        ResetEvent(ev);
        ASSERT_EQ(ERROR_SUCCESS, RegNotifyChangeKeyValue(watched, TRUE, filter, ev, TRUE));
        r = hbrtest::RunProcess({HBR_REG_PATH, "add", key, "/v", "y", "/t", "REG_DWORD", "/d", "6", "/f"});
        ASSERT_EQ(0, r.exitCode) << r.err;
        EXPECT_TRUE(Fires(ev)) << key;
    }
    RegCloseKey(watched);
}

TEST_F(Registry, NoUpdateIsLostWithConcurrentWriters)
{
    RegCloseKey(Create("Shared"));
    const int kPerWriter = 15;
    std::vector<std::thread> writers;
    for (int w = 0; w < 2; ++w) {
        writers.emplace_back([w] {
            HKEY key;
            ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Shared", 0, KEY_ALL_ACCESS, &key));
            for (int i = 0; i < kPerWriter; ++i) {
                std::string name = "t" + std::to_string(w) + "_" + std::to_string(i);
                DWORD v = static_cast<DWORD>(i);
                EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<BYTE *>(&v), 4));
            }
            RegCloseKey(key);
        });
    }
    writers.emplace_back([] {
        for (int i = 0; i < kPerWriter; ++i) {
            std::string name = "p" + std::to_string(i);
            auto r = hbrtest::RunProcess({HBR_REG_PATH, "add", "HKLM\\Shared", "/v", name, "/t", "REG_DWORD", "/d",
                                          std::to_string(i), "/f"});
            EXPECT_EQ(0, r.exitCode) << r.err;
        }
    });
    for (auto &t : writers) t.join();

    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, Open("Shared", &key));
    for (const char *prefix : {"t0_", "t1_", "p"}) {
        for (int i = 0; i < kPerWriter; ++i) {
            std::string name = prefix + std::to_string(i);
            DWORD v = 99, size = 4;
            EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE *>(&v), &size))
                << name;
            EXPECT_EQ(static_cast<DWORD>(i), v);
        }
    }
    RegCloseKey(key);
}

// A writer killed between its temp file and the rename leaves the temp file;
// the next write removes it when its process is gone, and only then.
TEST_F(Registry, WritesSweepTempFilesOfDeadWriters)
{
    HKEY key = Create("T");
    SetDword(key, "a", 1);
    pid_t dead = fork();
    if (dead == 0) {
        _exit(0);
    }
    ASSERT_EQ(dead, waitpid(dead, nullptr, 0));
    const std::string dir = root() + "/HKLM/T/";
    const std::string deadTemp = dir + ".values.tmp." + std::to_string(dead) + ".0";
    const std::string liveTemp = dir + ".values.tmp." + std::to_string(getppid()) + ".3";
    const std::string other = dir + ".values.tmp.x.1";
    for (const auto &path : {deadTemp, liveTemp, other}) {
        hbrtest::WriteFile(path, "HBRREG1 9\n");
    }
    SetDword(key, "b", 2);
    struct stat st;
    EXPECT_NE(0, stat(deadTemp.c_str(), &st));
    EXPECT_EQ(0, stat(liveTemp.c_str(), &st));
    EXPECT_EQ(0, stat(other.c_str(), &st));
    DWORD v = 0, size = sizeof v;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "a", nullptr, nullptr, reinterpret_cast<BYTE *>(&v), &size));
    EXPECT_EQ(1u, v);
    RegCloseKey(key);
}

} // namespace
