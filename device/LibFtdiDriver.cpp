#include "device/LibFtdiDriver.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>

#include "device/LibFtdiResources.h"
#include "device/LibFtdiStrings.h"
#include "device/LibFtdiTransferQueue.h"

namespace iqfeeder {
namespace {

// What an open device's handle points at. Every slice goes out as one bulk transfer of its
// own, so libftdi1's write chunk size does not apply.
// The open device is closed with it, its transfers taken back and freed first.
struct LibFtdiDevice {
    LibFtdiDevice(FtdiContext opened, LibFtdiTransferQueue::Clock clock,
                  std::uint32_t writeTimeoutMs, LibFtdiTransferQueue::Say say)
        : context(std::move(opened)) {
        queue.emplace(*context, std::move(clock), writeTimeoutMs, std::move(say));
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

// Each string gets at most this much, terminator included, as the maker's library gives.
constexpr std::size_t kStringBytes = 64;
constexpr int kStringLength = static_cast<int>(kStringBytes);

std::string textOf(const char* text) {
    return {text, strnlen(text, kStringBytes)};
}

LibFtdiTransferQueue& queueOf(DeviceHandle handle) {
    return *static_cast<LibFtdiDevice*>(handle)->queue;
}

}  // namespace

DriverTable LibFtdiDriver::table() {
    DriverTable table;
    table.context = this;
    table.list = [](void*, bool withSerials, std::vector<ListedDevice>& devices) {
        return list(withSerials, devices);
    };
    table.open = [](void* context, int deviceIndex, const OpenSettings& settings,
                    DeviceHandle* handle) {
        return static_cast<const LibFtdiDriver*>(context)->open(deviceIndex, settings, handle);
    };
    table.submit = [](void* context, DeviceHandle handle, const SliceToSend& slice) {
        if (handle == nullptr || slice.size > static_cast<std::uint32_t>(INT_MAX)) {
            // No device to send to: told by the next status call, as any failure.
            static_cast<LibFtdiDriver*>(context)->refused_.push_back(
                {slice.id, SliceFate::Failed, 0});
            return;
        }
        queueOf(handle).submit(slice);
    };
    table.status = [](void* context, DeviceHandle handle, std::vector<SliceReport>& reports) {
        auto& refused = static_cast<LibFtdiDriver*>(context)->refused_;
        reports.insert(reports.end(), refused.begin(), refused.end());
        refused.clear();
        if (handle != nullptr) {
            queueOf(handle).status(reports);
        }
    };
    table.close = [](void*, DeviceHandle handle, std::vector<SliceReport>& reports) {
        return close(handle, reports);
    };
    return table;
}

// One scan of the bus; each chip's strings are read in one go. A chip whose strings can't be
// read (no access rights, say) is still listed, without them: the open that follows then
// reports what is wrong.
bool LibFtdiDriver::list(bool withSerials, std::vector<ListedDevice>& devices) {
    devices.clear();
    const FtdiBus bus = scanFtdiBus();
    if (!bus.listed()) {
        return false;
    }
    for (const ftdi_device_list* entry = bus.devices.list.get(); entry != nullptr;
         entry = entry->next) {
        // With serial numbers (a lost device looked for, the table of devices), each string
        // read is bounded by our own short time-out.
        ListedDevice device;
        if (withSerials) {
            (void)readChipStrings(entry->dev, device.description, &device.serial);
        } else {
            char description[kStringBytes] = {};
            if (ftdi_usb_get_strings2(bus.context.get(), entry->dev, nullptr, 0, description,
                                      kStringLength, nullptr, 0) == 0) {
                device.description = textOf(description);
            }
        }
        devices.push_back(std::move(device));
    }
    return !devices.empty();
}

bool LibFtdiDriver::open(int deviceIndex, const OpenSettings& settings,
                         DeviceHandle* handle) const {
    if (handle == nullptr || deviceIndex < 0) {
        return false;
    }
    FtdiBus bus = scanFtdiBus();
    if (!bus.listed()) {
        return false;
    }
    const ftdi_device_list* entry = bus.at(static_cast<std::size_t>(deviceIndex));
    if (entry == nullptr) {
        return false;
    }
    // libftdi1 detaches the kernel's serial driver, claims the interface and resets the chip;
    // nothing else is set on the device. The serial driver is attached again at close, so the
    // chip's serial port comes back when the run ends.
    bus.context->module_detach_mode = AUTO_DETACH_REATACH_SIO_MODULE;
    // Unattended runs: the open's own control transfers wait no longer than a write may.
    if (settings.writeTimeoutMs > 0) {
        bus.context->usb_read_timeout = static_cast<int>(settings.writeTimeoutMs);
        bus.context->usb_write_timeout = static_cast<int>(settings.writeTimeoutMs);
    }
    if (ftdi_usb_open_dev(bus.context.get(), entry->dev) != 0) {
        return false;
    }
    // The open holds the device: the list goes now, while the context it came from is alive.
    bus.devices.list.reset();
    auto device = std::make_unique<LibFtdiDevice>(std::move(bus.context), clock_,
                                                  settings.writeTimeoutMs, say_);
    if (!device->queue->ready()) {
        return false;
    }
    *handle = device.release();
    return true;
}

bool LibFtdiDriver::close(DeviceHandle handle, std::vector<SliceReport>& reports) {
    if (handle == nullptr) {
        return false;
    }
    const std::unique_ptr<LibFtdiDevice> device(static_cast<LibFtdiDevice*>(handle));
    device->queue->drain(reports);
    return true;
}

}  // namespace iqfeeder
