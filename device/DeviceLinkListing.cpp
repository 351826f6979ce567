// DeviceLink's listing: the device list at start, the search by serial number, and the table
// of every attached device.
#include "common/ConsoleLines.h"
#include "device/DeviceLink.h"

namespace iqfeeder {

void DeviceLink::sayNoDevices() {
    console_.print("%s", lines::kNoDevices);
    console_.print("%s", lines::kPleaseExit);
}

void DeviceLink::listDevices() {
    // Serial numbers only when a lost device will be looked for by one: read now, before the
    // open, as some drivers can't answer for an open device.
    if (!driver_.list(driver_.context, reconnecting_, listing_) || listing_.empty()) {
        listing_.clear();
        sayNoDevices();
        return;
    }
    listed_ = true;
    console_.print("%s", lines::kDevicesConnected);
    console_.print(lines::kFirstDevice, listing_[0].description.c_str());
    if (listing_.size() > 1) {
        console_.print(lines::kSecondDevice, listing_[1].description.c_str());
    }
    console_.print("%s", lines::kDevicesEnd);
}

int DeviceLink::findSerial(const std::string& serial) {
    std::vector<ListedDevice> devices;
    (void)driver_.list(driver_.context, true, devices);
    std::string attached;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        if (devices[i].serial == serial) {
            return static_cast<int>(i);
        }
        attached += (attached.empty() ? "\"" : ", \"") + devices[i].serial + "\"";
    }
    diagnostics_.print(
        "iqfeeder: no attached device has the serial number \"%s\"; %s\n", serial.c_str(),
        attached.empty() ? "no device is attached" : ("attached: " + attached).c_str());
    return -1;
}

std::uint32_t DeviceLink::printDeviceTable() {
    std::vector<ListedDevice> devices;
    if (!driver_.list(driver_.context, true, devices) || devices.empty()) {
        sayNoDevices();
        return 0;
    }
    for (std::size_t i = 0; i < devices.size(); ++i) {
        console_.print(lines::kDeviceTableRow, static_cast<unsigned>(i), devices[i].serial.c_str(),
                       devices[i].description.c_str());
    }
    return static_cast<std::uint32_t>(devices.size());
}

}  // namespace iqfeeder
