#include "device/LibFtdiStrings.h"

#include <array>
#include <memory>

namespace iqfeeder {
namespace {

// At most what the maker's library gives: 63 characters and the terminator.
constexpr std::size_t kMostCharacters = 63;

struct HandleCloser {
    void operator()(libusb_device_handle* handle) const { libusb_close(handle); }
};

// One string descriptor; empty and false when the chip does not answer in time.
bool readDescriptor(libusb_device_handle* handle, std::uint8_t index, std::uint16_t language,
                    std::array<unsigned char, 255>& bytes, int& length) {
    length = libusb_control_transfer(handle, LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_DESCRIPTOR,
                                     static_cast<std::uint16_t>((LIBUSB_DT_STRING << 8) | index),
                                     language, bytes.data(),
                                     static_cast<std::uint16_t>(bytes.size()), kStringTimeoutMs);
    return length >= 2 && bytes[1] == LIBUSB_DT_STRING && bytes[0] <= length;
}

// The text of a string descriptor, in UTF-16LE: ASCII kept, anything else as '?', as libusb's
// own reading gives it.
bool readText(libusb_device_handle* handle, std::uint8_t index, std::uint16_t language,
              std::string& text) {
    text.clear();
    if (index == 0) {
        return true;  // the chip has no such string
    }
    std::array<unsigned char, 255> bytes{};
    int length = 0;
    if (!readDescriptor(handle, index, language, bytes, length)) {
        return false;
    }
    for (std::size_t at = 2; at + 1 < bytes[0] && text.size() < kMostCharacters; at += 2) {
        const bool ascii = bytes[at + 1] == 0 && bytes[at] < 0x80;
        text.push_back(ascii ? static_cast<char>(bytes[at]) : '?');
    }
    return true;
}

}  // namespace

bool readChipStrings(libusb_device* device, std::string& product, std::string* serial) {
    product.clear();
    if (serial != nullptr) {
        serial->clear();
    }
    libusb_device_descriptor descriptor{};
    libusb_device_handle* opened = nullptr;
    if (libusb_get_device_descriptor(device, &descriptor) != 0 ||
        libusb_open(device, &opened) != 0) {
        return false;
    }
    const std::unique_ptr<libusb_device_handle, HandleCloser> handle(opened);
    // The first language the chip offers, as libusb's own reading takes it.
    std::array<unsigned char, 255> languages{};
    int length = 0;
    if (!readDescriptor(handle.get(), 0, 0, languages, length) || length < 4) {
        return false;
    }
    const auto language = static_cast<std::uint16_t>(languages[2] | (languages[3] << 8));
    std::string productText;
    std::string serialText;
    if (!readText(handle.get(), descriptor.iProduct, language, productText) ||
        (serial != nullptr &&
         !readText(handle.get(), descriptor.iSerialNumber, language, serialText))) {
        return false;
    }
    product = productText;
    if (serial != nullptr) {
        *serial = serialText;
    }
    return true;
}

}  // namespace iqfeeder
