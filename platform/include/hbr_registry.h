/*
 * Listing helpers over the registry store, for the hbr-reg tool. Key
 * handles are those of <windows.h>; results come in store order.
 */
#ifndef HBR_PLATFORM_REGISTRY_H
#define HBR_PLATFORM_REGISTRY_H

#include <windows.h>

#include <string>
#include <vector>

struct HbrRegValue {
    std::string name; /* "" for the default value */
    DWORD type;
    std::vector<BYTE> data;
};

/* Subkey names of an open key, as created. */
LSTATUS hbrRegListSubkeys(HKEY key, std::vector<std::string> *names);
/* Values of an open key. */
LSTATUS hbrRegListValues(HKEY key, std::vector<HbrRegValue> *values);
/* RegSetValueExA that also tells where a damaged value file of the key was
   moved aside ("" when the file was sound). */
LSTATUS hbrRegSetValue(HKEY key, const char *name, DWORD type, const BYTE *data, DWORD size,
                       std::string *damagedAside);

#endif /* HBR_PLATFORM_REGISTRY_H */
