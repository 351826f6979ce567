#include "device/AbsentDriver.h"

namespace iqfeeder {

DriverTable absentDriverTable() {
    DriverTable table;
    table.list = [](void*, bool, std::vector<ListedDevice>& devices) {
        devices.clear();
        return false;
    };
    table.open = [](void*, int, const OpenSettings&, DeviceHandle*) { return false; };
    // Never reached: nothing opens.
    table.submit = [](void*, DeviceHandle, const SliceToSend&) {};
    table.status = [](void*, DeviceHandle, std::vector<SliceReport>&) {};
    table.close = [](void*, DeviceHandle, std::vector<SliceReport>&) { return true; };
    return table;
}

}  // namespace iqfeeder
