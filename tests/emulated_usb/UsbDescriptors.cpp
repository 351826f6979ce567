#include "tests/emulated_usb/UsbDescriptors.h"

namespace iqfeeder::testing {
namespace {

constexpr std::uint8_t kDeviceType = 1;
constexpr std::uint8_t kConfigurationType = 2;
constexpr std::uint8_t kStringType = 3;
constexpr std::uint8_t kInterfaceType = 4;
constexpr std::uint8_t kEndpointType = 5;
constexpr std::uint8_t kBulk = 2;
constexpr std::uint8_t kVendorSpecific = 0xFF;

void put16(std::vector<std::uint8_t>& bytes, std::uint16_t value) {
    bytes.push_back(static_cast<std::uint8_t>(value & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(value >> 8));
}

void putEndpoint(std::vector<std::uint8_t>& bytes, std::uint8_t address, std::uint16_t packet) {
    bytes.insert(bytes.end(), {7, kEndpointType, address, kBulk});
    put16(bytes, packet);
    bytes.push_back(0);
}

}  // namespace

UsbDeviceModel ft232r() {
    return {"FT232R", 0x0403, 0x6001, 0x0600, 12, 8, 64, "FTDI", "FT232R USB UART", "A50285BI"};
}

UsbDeviceModel ft232h() {
    return {"FT232H", 0x0403, 0x6014, 0x0900, 480, 64, 512, "FTDI", "Single RS232-HS", "FT6Z1XQ0"};
}

UsbDeviceModel usbMouse() {
    return {"Mouse", 0x046D, 0xC077, 0x7200, 12, 8, 8, "Logitech", "USB Optical Mouse", ""};
}

std::vector<std::uint8_t> deviceDescriptor(const UsbDeviceModel& model) {
    std::vector<std::uint8_t> bytes{18, kDeviceType};
    put16(bytes, 0x0200);  // USB 2.0
    bytes.insert(bytes.end(), {0, 0, 0, model.controlPacketBytes});
    put16(bytes, model.vendorId);
    put16(bytes, model.productId);
    put16(bytes, model.releaseBcd);
    // Manufacturer, product and serial strings; one configuration.
    bytes.insert(bytes.end(), {1, 2, static_cast<std::uint8_t>(model.serial.empty() ? 0 : 3), 1});
    return bytes;
}

std::vector<std::uint8_t> configurationDescriptor(const UsbDeviceModel& model) {
    std::vector<std::uint8_t> bytes{9, kConfigurationType};
    put16(bytes, 9 + 9 + 7 + 7);
    // One interface, configuration value 1, bus powered with remote wake-up, 90 mA.
    bytes.insert(bytes.end(), {1, 1, 0, 0xA0, 45});
    bytes.insert(bytes.end(), {9, kInterfaceType, 0, 0, 2, kVendorSpecific, kVendorSpecific,
                               kVendorSpecific, 2});
    putEndpoint(bytes, 0x81, model.bulkPacketBytes);
    putEndpoint(bytes, 0x02, model.bulkPacketBytes);
    return bytes;
}

std::vector<std::uint8_t> allDescriptors(const UsbDeviceModel& model) {
    std::vector<std::uint8_t> bytes = deviceDescriptor(model);
    const std::vector<std::uint8_t> configuration = configurationDescriptor(model);
    bytes.insert(bytes.end(), configuration.begin(), configuration.end());
    return bytes;
}

std::vector<std::uint8_t> languageDescriptor() {
    return {4, kStringType, 0x09, 0x04};
}

std::vector<std::uint8_t> stringDescriptor(std::string_view text) {
    std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(2 + 2 * text.size()), kStringType};
    for (const char c : text) {
        put16(bytes, static_cast<std::uint8_t>(c));  // UTF-16LE of ASCII text
    }
    return bytes;
}

}  // namespace iqfeeder::testing
