#include "device/DeviceLink.h"

#include "common/ConsoleLines.h"

namespace iqfeeder {

void DeviceLink::openDevice(const DeviceChoice& choice) {
    choice_ = choice;
    const int index = choice.serial.empty() ? choice.index : findSerial(choice.serial);
    if (listed_ && index > 0) {
        const auto listedAt = static_cast<std::size_t>(index);
        if (listedAt < listing_.size()) {
            console_.print(lines::kUsingDeviceNamed, index, listing_[listedAt].description.c_str());
        } else {
            console_.print(lines::kUsingDevice, index);
        }
    }
    // Some drivers crash inside their open when the listing failed; don't ask them to open.
    if (listed_ && index >= 0 && open(index)) {
        openedSerial_ = choice.serial;
        if (reconnecting_ && openedSerial_.empty() &&
            static_cast<std::size_t>(index) < listing_.size()) {
            openedSerial_ = listing_[static_cast<std::size_t>(index)].serial;
        }
        sayHowItReconnects();
        return;
    }
    console_.print("%s", lines::kCantOpenDevice);
    if (reconnecting_) {
        // Looked for by what the operator asked for: the serial, or the index.
        openedIndex_ = choice.serial.empty() ? choice.index : 0;
        openedSerial_ = choice.serial;
        lost_ = true;
        console_.print("%s", lines::kWaitingForDevice);
    }
}

void DeviceLink::sayHowItReconnects() {
    if (!reconnecting_ || !openedSerial_.empty()) {
        return;
    }
    if (choice_.indexNamed) {
        diagnostics_.print(
            "iqfeeder: device %i has no serial number; if it is lost, it is looked for again "
            "at index %i, whatever chip is there\n",
            openedIndex_, openedIndex_);
    } else {
        diagnostics_.print(
            "iqfeeder: device %i has no serial number, so if it is lost it can't be told from "
            "another chip and is not looked for; name its index with -d to have it looked for "
            "there\n",
            openedIndex_);
    }
}

bool DeviceLink::open(int index) {
    if (!driver_.open(driver_.context, index, settings_, &deviceHandle_)) {
        deviceHandle_ = nullptr;
        return false;
    }
    open_ = true;
    everOpen_ = true;
    openedIndex_ = index;
    return true;
}

int DeviceLink::whereToReconnect(const std::vector<ListedDevice>& devices) const {
    if (!openedSerial_.empty()) {
        for (std::size_t i = 0; i < devices.size(); ++i) {
            if (devices[i].serial == openedSerial_) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }
    // Without a serial number, a chip once open is only looked for where the operator said.
    if (everOpen_ && !choice_.indexNamed) {
        return -1;
    }
    return static_cast<std::size_t>(openedIndex_) < devices.size() ? openedIndex_ : -1;
}

bool DeviceLink::reconnect() {
    if (!lost_) {
        return true;  // and never list serial numbers with the device open
    }
    std::vector<ListedDevice> devices;
    if (!driver_.list(driver_.context, true, devices)) {
        return false;
    }
    const int index = whereToReconnect(devices);
    const bool wasOpen = everOpen_;
    if (index < 0 || !open(index)) {
        return false;
    }
    if (openedSerial_.empty()) {
        openedSerial_ = devices[static_cast<std::size_t>(index)].serial;
        if (!wasOpen) {
            sayHowItReconnects();
        }
    }
    lost_ = false;
    ++counters_.reconnects;
    console_.print("%s", wasOpen ? lines::kDeviceBack : lines::kDeviceFound);
    // What the device had not confirmed when it went, in order, before anything new.
    feed(nullptr);
    return !lost_;
}

void DeviceLink::closeDevice() {
    if (!open_) {
        return;
    }
    closeDriver(nullptr);
    if (!lost_) {
        ring_.waiting.clear();  // a stop between slices: the rest of the buffer stays unsent
    }
}

}  // namespace iqfeeder
