#include "device/LibFtdiDriver.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>

#include "device/LibFtdiResources.h"
#include "device/LibFtdiTransferQueue.h"

namespace iqfeeder {
namespace {

// What an open device's handle points at. Every slice goes out as one bulk transfer of its
// own, so libftdi1's write chunk size does not apply.
// The open device is closed with it, its transfers taken back and freed first.
struct LibFtdiDevice {
    LibFtdiDevice(FtdiContext opened, LibFtdiTransferQueue::Clock clock)
        : context(std::move(opened)) {
        queue.emplace(*context, std::move(clock));
    }
    ~LibFtdiDevice() {
        queue.reset();
        ftdi_usb_close(context.get());
    }
    LibFtdiDevice(const LibFtdiDevice&) = delete;
    LibFtdiDevice& operator=(const LibFtdiDevice&) = delete;
    LibFtdiDevice(LibFtdiDevice&&) = delete;
    LibFtdiDevice& operator=(LibFtdiDevice&&) = delete;

    FtdiContext context;
    std::optional<LibFtdiTransferQueue> queue;
};

// Each string gets at most this much, terminator included.
constexpr int kStringLength = static_cast<int>(kDescriptionBytes);

std::string textOf(const char* text) {
    return {text, strnlen(text, kDescriptionBytes)};
}

}  // namespace

DriverTable LibFtdiDriver::table() {
    DriverTable table;
    table.context = this;
    table.list = [](void*, bool withSerials, std::vector<ListedDevice>& devices) {
        return list(withSerials, devices);
    };
    table.open = [](void* context, int deviceIndex, FT_HANDLE* handle) {
        return static_cast<const LibFtdiDriver*>(context)->open(deviceIndex, handle);
    };
    table.write = [](void*, FT_HANDLE handle, const std::uint8_t* bytes, std::uint32_t size,
                     WriteReport& report) { return write(handle, bytes, size, report); };
    table.close = [](void*, FT_HANDLE handle, std::uint64_t& confirmed) {
        return close(handle, confirmed);
    };
    return table;
}

// One scan of the bus; each chip's strings are read in one go. A chip whose strings can't be
// read (no access rights, say) is still listed, without them: the open that follows then
// reports what is wrong.
FT_STATUS LibFtdiDriver::list(bool withSerials, std::vector<ListedDevice>& devices) {
    devices.clear();
    const FtdiBus bus = scanFtdiBus();
    if (!bus.listed()) {
        return FT_OTHER_ERROR;
    }
    for (const ftdi_device_list* entry = bus.devices.list.get(); entry != nullptr;
         entry = entry->next) {
        char description[kDescriptionBytes] = {};
        char serial[kDescriptionBytes] = {};
        ListedDevice device;
        if (ftdi_usb_get_strings2(bus.context.get(), entry->dev, nullptr, 0, description,
                                  kStringLength, withSerials ? serial : nullptr,
                                  withSerials ? kStringLength : 0) == 0) {
            device.description = textOf(description);
            device.serial = textOf(serial);
        }
        devices.push_back(std::move(device));
    }
    return devices.empty() ? FT_DEVICE_NOT_FOUND : FT_OK;
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
    // The open holds the device: the list goes now, while the context it came from is alive.
    bus.devices.list.reset();
    auto device = std::make_unique<LibFtdiDevice>(std::move(bus.context), clock_);
    if (!device->queue->ready()) {
        return FT_OTHER_ERROR;
    }
    *handle = device.release();
    return FT_OK;
}

FT_STATUS LibFtdiDriver::write(FT_HANDLE handle, const std::uint8_t* bytes, std::uint32_t size,
                               WriteReport& report) {
    report = {};
    if (handle == nullptr) {
        return FT_INVALID_HANDLE;
    }
    LibFtdiTransferQueue& queue = *static_cast<LibFtdiDevice*>(handle)->queue;
    if (size > static_cast<std::uint32_t>(INT_MAX) || (bytes == nullptr && size > 0)) {
        return FT_OTHER_ERROR;
    }
    DWORD written = 0;
    const FT_STATUS status = queue.write(bytes, size, &written, &report.confirmed);
    report.taken = written;
    return status;
}

FT_STATUS LibFtdiDriver::close(FT_HANDLE handle, std::uint64_t& confirmed) {
    confirmed = 0;
    if (handle == nullptr) {
        return FT_INVALID_HANDLE;
    }
    const std::unique_ptr<LibFtdiDevice> device(static_cast<LibFtdiDevice*>(handle));
    return device->queue->drain(&confirmed);
}

}  // namespace iqfeeder
