// Class and interface ids of the platform's COM objects. Our own values:
// distinct from each other, defined once here.
#include <mbnapi.h>

#define HBR_DEFINE_ID(name, n) \
    extern "C" const GUID name = {0x48425200u + (n), 0x2c0f, 0x4a51, {0x9d, 0x3e, 0x5f, 0x0b, 0x71, 0xc4, 0x28, (n)}}

HBR_DEFINE_ID(IID_IUnknown, 0x01);
HBR_DEFINE_ID(IID_IConnectionPoint, 0x02);
HBR_DEFINE_ID(IID_IConnectionPointContainer, 0x03);
HBR_DEFINE_ID(CLSID_MbnInterfaceManager, 0x10);
HBR_DEFINE_ID(CLSID_MbnDeviceServicesManager, 0x11);
HBR_DEFINE_ID(IID_IMbnInterfaceManager, 0x20);
HBR_DEFINE_ID(IID_IMbnInterface, 0x21);
HBR_DEFINE_ID(IID_IMbnDeviceServicesManager, 0x22);
HBR_DEFINE_ID(IID_IMbnDeviceServicesContext, 0x23);
HBR_DEFINE_ID(IID_IMbnDeviceService, 0x24);
HBR_DEFINE_ID(IID_IMbnDeviceServicesEvents, 0x25);
HBR_DEFINE_ID(IID_IMbnInterfaceManagerEvents, 0x26);
