// What an emulated USB device tells the host about itself: its identity and the standard
// descriptors built from it.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace iqfeeder::testing {

struct UsbDeviceModel {
    std::string name;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t releaseBcd = 0;  // bcdDevice, from which libftdi1 tells the chip type
    int speedMbps = 12;            // 12 full speed, 480 high speed
    std::uint8_t controlPacketBytes = 8;
    std::uint16_t bulkPacketBytes = 64;
    std::string manufacturer;
    std::string product;
    std::string serial;
};

// Test parameters print by name.
inline void PrintTo(const UsbDeviceModel& model, std::ostream* out) {
    *out << model.name;
}

UsbDeviceModel ft232r();
UsbDeviceModel ft232h();
// A device on the bus that is not an FTDI chip.
UsbDeviceModel usbMouse();

// Device descriptor followed by the one configuration (one interface, bulk IN 0x81 and bulk
// OUT 0x02), as the kernel offers them in sysfs and on the usbfs node.
std::vector<std::uint8_t> allDescriptors(const UsbDeviceModel& model);
std::vector<std::uint8_t> deviceDescriptor(const UsbDeviceModel& model);
std::vector<std::uint8_t> configurationDescriptor(const UsbDeviceModel& model);
// String descriptor 0: the one language, US English.
std::vector<std::uint8_t> languageDescriptor();
std::vector<std::uint8_t> stringDescriptor(std::string_view text);

}  // namespace iqfeeder::testing
