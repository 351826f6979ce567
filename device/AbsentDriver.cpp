#include "device/AbsentDriver.h"

namespace iqfeeder {

DriverTable absentDriverTable() {
    DriverTable table;
    table.listDevices = [](void*, void*, void*, DWORD) { return FT_DEVICE_NOT_FOUND; };
    table.open = [](void*, int, FT_HANDLE*) { return FT_DEVICE_NOT_OPENED; };
    table.write = [](void*, FT_HANDLE, void*, DWORD, DWORD* bytesWritten) {
        if (bytesWritten != nullptr) {
            *bytesWritten = 0;
        }
        return FT_INVALID_HANDLE;
    };
    table.close = [](void*, FT_HANDLE) { return FT_INVALID_HANDLE; };
    return table;
}

}  // namespace iqfeeder
