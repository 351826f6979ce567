#include "device/LibFtdiDriver.h"

#include <climits>
#include <cstdint>
#include <memory>

#include "device/LibFtdiResources.h"
#include "device/LibFtdiTransferQueue.h"

namespace iqfeeder {
namespace {

// What an open device's handle points at. Every slice goes out as one bulk transfer of its
// own, so libftdi1's write chunk size does not apply.
struct LibFtdiDevice {
    LibFtdiDevice(FtdiContext opened, LibFtdiTransferQueue::Clock clock)
        : context(std::move(opened)), queue(*context, std::move(clock)) {}

    FtdiContext context;
    LibFtdiTransferQueue queue;  // after the context, so released before it
};

// Each description buffer gets at most this much, terminator included.
constexpr int kDescriptionLength = static_cast<int>(kDescriptionBytes);

FT_STATUS countDevices(DWORD* count) {
    const FtdiBus bus = scanFtdiBus();
    if (!bus.listed()) {
        return FT_OTHER_ERROR;
    }
    if (bus.devices.count == 0) {
        return FT_DEVICE_NOT_FOUND;
    }
    *count = static_cast<DWORD>(bus.devices.count);
    return FT_OK;
}

// Fills one product string per device into the caller's null-terminated array of 64-byte
// buffers, never more than the array holds.
FT_STATUS describeDevices(char** descriptions, DWORD* count) {
    const FtdiBus bus = scanFtdiBus();
    if (!bus.listed()) {
        return FT_OTHER_ERROR;
    }
    if (bus.devices.count == 0) {
        return FT_DEVICE_NOT_FOUND;
    }
    std::size_t index = 0;
    for (const ftdi_device_list* entry = bus.devices.list.get();
         entry != nullptr && descriptions[index] != nullptr; entry = entry->next, ++index) {
        char* description = descriptions[index];
        // A device we may not open (no access rights, say) is still listed, without a name:
        // the open that follows then reports what is wrong.
        if (ftdi_usb_get_strings2(bus.context.get(), entry->dev, nullptr, 0, description,
                                  kDescriptionLength, nullptr, 0) != 0) {
            description[0] = '\0';
        }
    }
    *count = static_cast<DWORD>(bus.devices.count);
    return FT_OK;
}

// Fills one device's serial number or product string, by its index in the listing, into a
// 64-byte buffer.
FT_STATUS describeDevice(std::uintptr_t index, char* text, DWORD what) {
    const FtdiBus bus = scanFtdiBus();
    if (!bus.listed()) {
        return FT_OTHER_ERROR;
    }
    const ftdi_device_list* entry = bus.at(index);
    if (entry == nullptr) {
        return FT_DEVICE_NOT_FOUND;
    }
    const bool serial = what == FT_OPEN_BY_SERIAL_NUMBER;
    if (ftdi_usb_get_strings2(bus.context.get(), entry->dev, nullptr, 0, serial ? nullptr : text,
                              serial ? 0 : kDescriptionLength, serial ? text : nullptr,
                              serial ? kDescriptionLength : 0) != 0) {
        return FT_DEVICE_NOT_OPENED;
    }
    return FT_OK;
}

}  // namespace

DriverTable LibFtdiDriver::table() {
    DriverTable table;
    table.context = this;
    table.listDevices = [](void*, void* arg1, void* arg2, DWORD flags) {
        return listDevices(arg1, arg2, flags);
    };
    table.open = [](void* context, int deviceIndex, FT_HANDLE* handle) {
        return static_cast<const LibFtdiDriver*>(context)->open(deviceIndex, handle);
    };
    table.write = [](void*, FT_HANDLE handle, void* buffer, DWORD bytesToWrite,
                     DWORD* bytesWritten) {
        return write(handle, buffer, bytesToWrite, bytesWritten);
    };
    table.close = [](void*, FT_HANDLE handle) { return close(handle); };
    return table;
}

FT_STATUS LibFtdiDriver::listDevices(void* arg1, void* arg2, DWORD flags) {
    if (flags == FT_LIST_NUMBER_ONLY && arg1 != nullptr) {
        return countDevices(static_cast<DWORD*>(arg1));
    }
    if (flags == (FT_LIST_ALL | FT_OPEN_BY_DESCRIPTION) && arg1 != nullptr && arg2 != nullptr) {
        return describeDevices(static_cast<char**>(arg1), static_cast<DWORD*>(arg2));
    }
    if ((flags == (FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER) ||
         flags == (FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION)) &&
        arg2 != nullptr) {
        // In this mode the first argument carries the index itself.
        return describeDevice(reinterpret_cast<std::uintptr_t>(arg1), static_cast<char*>(arg2),
                              flags & ~FT_LIST_BY_INDEX);
    }
    return FT_OTHER_ERROR;
}

FT_STATUS LibFtdiDriver::open(int deviceIndex, FT_HANDLE* handle) const {
    if (handle == nullptr || deviceIndex < 0) {
        return FT_OTHER_ERROR;
    }
    FtdiBus bus = scanFtdiBus();
    if (!bus.listed()) {
        return FT_OTHER_ERROR;
    }
    const ftdi_device_list* entry = bus.at(static_cast<std::size_t>(deviceIndex));
    if (entry == nullptr) {
        return FT_DEVICE_NOT_FOUND;
    }
    // libftdi1 detaches the kernel's serial driver, claims the interface and resets the chip;
    // nothing else is set on the device. The serial driver is attached again at close, so the
    // chip's serial port comes back when the run ends.
    bus.context->module_detach_mode = AUTO_DETACH_REATACH_SIO_MODULE;
    if (ftdi_usb_open_dev(bus.context.get(), entry->dev) != 0) {
        return FT_DEVICE_NOT_OPENED;
    }
    auto device = std::make_unique<LibFtdiDevice>(std::move(bus.context), clock_);
    if (!device->queue.ready()) {
        ftdi_usb_close(device->context.get());
        return FT_OTHER_ERROR;
    }
    *handle = device.release();
    return FT_OK;
}

FT_STATUS LibFtdiDriver::write(FT_HANDLE handle, void* buffer, DWORD bytesToWrite,
                               DWORD* bytesWritten) {
    if (bytesWritten != nullptr) {
        *bytesWritten = 0;
    }
    if (handle == nullptr) {
        return FT_INVALID_HANDLE;
    }
    if (bytesToWrite > static_cast<DWORD>(INT_MAX) || bytesWritten == nullptr ||
        (buffer == nullptr && bytesToWrite > 0)) {
        return FT_OTHER_ERROR;
    }
    return static_cast<LibFtdiDevice*>(handle)->queue.write(
        static_cast<const unsigned char*>(buffer), bytesToWrite, bytesWritten);
}

FT_STATUS LibFtdiDriver::close(FT_HANDLE handle) {
    if (handle == nullptr) {
        return FT_INVALID_HANDLE;
    }
    const std::unique_ptr<LibFtdiDevice> device(static_cast<LibFtdiDevice*>(handle));
    const FT_STATUS status = device->queue.drain();
    ftdi_usb_close(device->context.get());
    return status;
}

}  // namespace iqfeeder
