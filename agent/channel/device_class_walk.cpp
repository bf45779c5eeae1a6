#include "device_class_walk.h"

#include "clog.h"
#include "state_work.h"

#include <cstdlib>
#include <cstring>

BOOL WalkDeviceClass(const char *className, const DeviceClassWalkTexts &texts, const DeviceAction &action)
{
    GUID guid;
    DWORD count = 0;
    BOOL ok = SetupDiClassGuidsFromNameA(className, &guid, 1, &count);
    HBR_LOG_INFO(texts.guidCount, static_cast<int>(count));
    if (!ok) {
        HBR_LOG_ERROR(texts.guidFail, static_cast<int>(GetLastError()));
        return FALSE;
    }
    if (count == 0) {
        HBR_LOG_ERROR("%s", texts.noGuid);
        return FALSE;
    }
    HDEVINFO set = SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) {
        HBR_LOG_ERROR(texts.classDevsFail, static_cast<int>(GetLastError()));
        return FALSE;
    }
    SP_DEVINFO_DATA device;
    std::memset(&device, 0, sizeof device);
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        DWORD type = 0;
        char *ids = texts.fixedPropertyReader
                        ? CStateWork::GetDeviceRegistryProperty(set, &device, &type)
                        : CStateWork::GetDeviceRegistryProperty(set, &device, SPDRP_HARDWAREID, &type);
        if (ids == nullptr) {
            HBR_LOG_ERROR("%s", texts.hardIdNull);
            continue;
        }
        if (!texts.hardIdLineAfterTypeCheck) {
            HBR_LOG_INFO(texts.hardIdLine, ids);
        }
        if (type != REG_MULTI_SZ) {
            HBR_LOG_ERROR("%s", texts.notMultiSz);
            std::free(ids);
            continue;
        }
        if (texts.hardIdLineAfterTypeCheck) {
            HBR_LOG_INFO(texts.hardIdLine, ids);
        }
        bool stop = action(set, &device, ids);
        std::free(ids);
        if (stop) {
            break;
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    return TRUE;
}

bool HardwareIdStartsWantedId(const char *firstHardwareId, const char *wantedId)
{
    size_t n = std::strlen(firstHardwareId);
    return n != 0 && std::strncmp(firstHardwareId, wantedId, n) == 0;
}
