// On-disk registry store shared by the registry API and its notifier.
#ifndef HBR_PLATFORM_REGISTRY_STORE_H
#define HBR_PLATFORM_REGISTRY_STORE_H

#include "objects.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <sys/types.h>

namespace hbr {

struct Key : Object {
    Key() : Object(ObjectType::Key) {}
    std::string root; // registry root folder (holds .lock)
    std::string dir;  // the key's folder
    dev_t dev = 0;
    ino_t ino = 0;
};

// State of one key as the notifier compares it.
struct KeyState {
    dev_t dev = 0;
    ino_t ino = 0;
    uint64_t serial = 0;
    std::vector<std::string> subkeys; // lower-case names, sorted
    std::string dir;                  // the key's folder (not compared)
};
using Snapshot = std::map<std::string, KeyState>; // path below the watched key -> state

// One stored value and a key's ".values" file.
struct StoredValue {
    std::string name;
    DWORD type = 0;
    std::vector<BYTE> data;
};

struct ValuesFile {
    uint64_t serial = 0;
    std::vector<StoredValue> values;

    StoredValue *Find(const std::string &name); // case-insensitive
};

// The text of a ".values" file: the header line "HBRREG1 <serial>", then one
// line per value, "<type> <byte count> <name> <hex or ->". Any other shape
// gives ERROR_REGISTRY_CORRUPT (1015). With headerOnly only the serial is read.
LSTATUS ParseValuesText(const std::string &text, ValuesFile *vf, bool headerOnly = false);

// A value name as stored ("@" the default value, else escaped).
std::string DecodeValueName(const std::string &enc);

// The registry root folder (HBR_REGISTRY_ROOT or the default).
std::string RegistryRootDir();

Snapshot TakeSnapshot(const std::string &dir, bool subtree);
bool SnapshotChanged(const Snapshot &before, const Snapshot &after, DWORD filter);

// Notifier: one platform thread that compares armed watches with the store.
void ArmWatch(const std::shared_ptr<Key> &key, bool subtree, DWORD filter,
              std::shared_ptr<Waitable> event);
void DropWatches(const Key *key);

} // namespace hbr

#endif
