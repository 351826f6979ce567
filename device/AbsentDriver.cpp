#include "device/AbsentDriver.h"

namespace iqfeeder {

DriverTable absentDriverTable() {
    DriverTable table;
    table.list = [](void*, bool, std::vector<ListedDevice>& devices) {
        devices.clear();
        return FT_DEVICE_NOT_FOUND;
    };
    table.open = [](void*, int, FT_HANDLE*) { return FT_DEVICE_NOT_OPENED; };
    table.write = [](void*, FT_HANDLE, const std::uint8_t*, std::uint32_t, WriteReport& report) {
        report = {};
        return FT_INVALID_HANDLE;
    };
    table.close = [](void*, FT_HANDLE, std::uint64_t& confirmed) {
        confirmed = 0;
        return FT_INVALID_HANDLE;
    };
    return table;
}

}  // namespace iqfeeder
