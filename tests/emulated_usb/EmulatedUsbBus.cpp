#include "tests/emulated_usb/EmulatedUsbBus.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace iqfeeder::testing {
namespace {

constexpr std::uint8_t kBulkOutEndpoint = 0x02;
constexpr std::size_t kSetupBytes = 8;
constexpr std::uint8_t kDirectionIn = 0x80;
constexpr std::uint8_t kTypeMask = 0x60;
constexpr std::uint8_t kTypeStandard = 0x00;
constexpr std::uint8_t kTypeVendor = 0x40;
constexpr std::uint8_t kGetDescriptor = 6;
constexpr std::uint8_t kStringDescriptorType = 3;

std::string hex(unsigned long value) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%lx", value);
    return text;
}

std::string hexBytes(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    for (const std::uint8_t byte : bytes) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02X", byte);
        text += pair;
    }
    return text;
}

UMockdevIoctlData* resolve(UMockdevIoctlData* data, std::size_t offset, std::size_t length) {
    GError* error = nullptr;
    UMockdevIoctlData* resolved = umockdev_ioctl_data_resolve(data, offset, length, &error);
    if (error != nullptr) {
        std::fprintf(stderr, "emulated USB: can't read the client's memory: %s\n", error->message);
        g_error_free(error);
    }
    return resolved;
}

std::string usbfsNode(int address) {
    char node[64];
    std::snprintf(node, sizeof node, "/dev/bus/usb/001/%03d", address);
    return node;
}

std::string sysfsPath(int address) {
    return "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-" + std::to_string(address);
}

std::uint16_t little16(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

}  // namespace

EmulatedUsbDevice::EmulatedUsbDevice(UsbDeviceModel model)
    : model_(std::move(model)), handler_(umockdev_ioctl_base_new()) {
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&EmulatedUsbDevice::onIoctl), this);
}

EmulatedUsbDevice::~EmulatedUsbDevice() {
    g_signal_handlers_disconnect_by_data(handler_, this);
    for (auto* list : {&held_, &done_}) {
        for (InFlight& transfer : *list) {
            release(transfer);
        }
    }
    g_object_unref(handler_);
}

void EmulatedUsbDevice::failBulkTransfer(std::size_t index, int error) {
    const std::lock_guard lock(mutex_);
    failingBulk_[index] = error;
}

void EmulatedUsbDevice::shortenBulkTransfer(std::size_t index, std::size_t bytes) {
    const std::lock_guard lock(mutex_);
    shortenedBulk_[index] = bytes;
}

void EmulatedUsbDevice::stopDraining() {
    const std::lock_guard lock(mutex_);
    draining_ = false;
}

void EmulatedUsbDevice::drainHeld(std::size_t count) {
    const std::lock_guard lock(mutex_);
    const Clock::time_point now = Clock::now();
    for (auto held = held_.begin(); held != held_.end() && count > 0;) {
        if (held->bulkIndex == SIZE_MAX) {
            ++held;
            continue;
        }
        take(*held, now);
        bulkTransfers_[held->bulkIndex].completed = now;
        done_.push_back(*held);
        held = held_.erase(held);
        --count;
    }
}

void EmulatedUsbDevice::drainAt(std::size_t bytesPerSecond) {
    const std::lock_guard lock(mutex_);
    drainBytesPerSecond_ = bytesPerSecond;
}

void EmulatedUsbDevice::refuseStrings() {
    const std::lock_guard lock(mutex_);
    refusingStrings_ = true;
}

void EmulatedUsbDevice::whenBytesReceived(std::size_t total, std::function<void()> action) {
    const std::lock_guard lock(mutex_);
    actionThreshold_ = total;
    action_ = std::move(action);
}

std::vector<std::uint8_t> EmulatedUsbDevice::receivedBytes() const {
    const std::lock_guard lock(mutex_);
    return received_;
}

std::vector<EmulatedUsbDevice::BulkTransfer> EmulatedUsbDevice::bulkTransfers() const {
    const std::lock_guard lock(mutex_);
    return bulkTransfers_;
}

std::size_t EmulatedUsbDevice::discardedTransfers() const {
    const std::lock_guard lock(mutex_);
    return discarded_;
}

std::vector<std::uint8_t> EmulatedUsbDevice::vendorRequests() const {
    const std::lock_guard lock(mutex_);
    return vendorRequests_;
}

int EmulatedUsbDevice::interfaceClaims() const {
    const std::lock_guard lock(mutex_);
    return claims_;
}

int EmulatedUsbDevice::interfaceReleases() const {
    const std::lock_guard lock(mutex_);
    return releases_;
}

std::vector<std::string> EmulatedUsbDevice::unknownRequests() const {
    const std::lock_guard lock(mutex_);
    return unknownRequests_;
}

int EmulatedUsbDevice::onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self) {
    return static_cast<EmulatedUsbDevice*>(self)->handle(client) ? TRUE : FALSE;
}

bool EmulatedUsbDevice::handle(UMockdevIoctlClient* client) {
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    const std::string node = umockdev_ioctl_client_get_devnode(client);
    bool gone = false;
    {
        const std::lock_guard lock(mutex_);
        gone = node != node_;
    }
    if (gone) {
        if (request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY) {
            reap(client, node, true);
        } else {
            umockdev_ioctl_client_complete(client, -1, ENODEV);
        }
        return true;
    }
    switch (request) {
        case USBDEVFS_GET_CAPABILITIES: {
            UMockdevIoctlData* capabilities =
                resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(std::uint32_t));
            const std::uint32_t value = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                                        USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                        USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
            std::memcpy(capabilities->data, &value, sizeof value);
            umockdev_ioctl_client_complete(client, 0, 0);
            g_object_unref(capabilities);
            return true;
        }
        // libusb claims with DISCONNECT_CLAIM when it is to detach a kernel driver itself and
        // attach it again at release.
        case USBDEVFS_DISCONNECT_CLAIM:
        case USBDEVFS_CLAIMINTERFACE:
        case USBDEVFS_RELEASEINTERFACE: {
            const std::lock_guard lock(mutex_);
            ++(request == USBDEVFS_RELEASEINTERFACE ? releases_ : claims_);
            umockdev_ioctl_client_complete(client, 0, 0);
            return true;
        }
        case USBDEVFS_SETCONFIGURATION:
        case USBDEVFS_SETINTERFACE:
        case USBDEVFS_CLEAR_HALT:
        case USBDEVFS_RESETEP:
        case USBDEVFS_RESET:
            umockdev_ioctl_client_complete(client, 0, 0);
            return true;
        case USBDEVFS_GETDRIVER:
        case USBDEVFS_IOCTL:
            // No kernel driver is bound to the interface, so there is nothing to detach.
            umockdev_ioctl_client_complete(client, -1, ENODATA);
            return true;
        case USBDEVFS_SUBMITURB:
            submit(client);
            return true;
        case USBDEVFS_REAPURB:
        case USBDEVFS_REAPURBNDELAY:
            reap(client, node, false);
            return true;
        case USBDEVFS_DISCARDURB:
            discard(client);
            return true;
        default: {
            const std::lock_guard lock(mutex_);
            unknownRequests_.push_back(hex(request));
            return false;
        }
    }
}

void EmulatedUsbDevice::submit(UMockdevIoctlClient* client) {
    InFlight transfer;
    transfer.urb = resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(usbdevfs_urb));
    auto* urb = reinterpret_cast<usbdevfs_urb*>(transfer.urb->data);
    transfer.clientAddress = transfer.urb->client_addr;
    transfer.node = umockdev_ioctl_client_get_devnode(client);
    const auto length = static_cast<std::size_t>(std::max(urb->buffer_length, 0));
    if (length > 0) {
        transfer.buffer = resolve(transfer.urb, offsetof(usbdevfs_urb, buffer), length);
    }

    std::function<void()> action;
    {
        const std::lock_guard lock(mutex_);
        if (urb->type == USBDEVFS_URB_TYPE_CONTROL && length >= kSetupBytes &&
            transfer.buffer != nullptr) {
            answerControl(transfer);
            done_.push_back(transfer);
        } else if (urb->type == USBDEVFS_URB_TYPE_BULK && urb->endpoint == kBulkOutEndpoint) {
            acceptBulk(transfer, length);
            if (action_ && received_.size() >= actionThreshold_) {
                action = std::move(action_);
                action_ = nullptr;
            }
        } else {
            // Bulk IN and anything else: nothing to send back until the host discards it.
            held_.push_back(transfer);
        }
    }
    if (action) {
        action();
    }
    umockdev_ioctl_client_complete(client, 0, 0);
}

void EmulatedUsbDevice::acceptBulk(InFlight& transfer, std::size_t length) {
    const Clock::time_point now = Clock::now();
    transfer.bulkIndex = bulkTransfers_.size();
    if (!bulkTransfers_.empty()) {
        BulkTransfer& previous = bulkTransfers_.back();
        previous.nextQueued = now < previous.completed;
    }
    BulkTransfer record;
    record.bytes = length;
    record.submitted = now;
    // One transfer after the other: this one starts when the chip is done with the last.
    const Clock::time_point start = std::max(now, drainedUntil_);
    const auto failing = failingBulk_.find(transfer.bulkIndex);
    if (failing != failingBulk_.end()) {
        transfer.status = -failing->second;
        transfer.due = start;
    } else if (!draining_) {
        held_.push_back(transfer);  // done when the host discards it or the test drains it
    } else {
        const std::int64_t nanoseconds = drainBytesPerSecond_ == 0
                                             ? 0
                                             : static_cast<std::int64_t>(length) * 1'000'000'000 /
                                                   static_cast<std::int64_t>(drainBytesPerSecond_);
        take(transfer, start + std::chrono::nanoseconds(nanoseconds));
    }
    if (transfer.status != 0 || draining_) {
        done_.push_back(transfer);
        record.completed = transfer.due;
        drainedUntil_ = transfer.due;
    }
    record.status = transfer.status;
    bulkTransfers_.push_back(record);
}

void EmulatedUsbDevice::take(InFlight& transfer, Clock::time_point due) {
    if (transfer.buffer != nullptr) {
        auto length = static_cast<std::size_t>(transfer.buffer->data_len);
        const auto shortened = shortenedBulk_.find(transfer.bulkIndex);
        if (shortened != shortenedBulk_.end()) {
            length = std::min(length, shortened->second);
        }
        const std::uint8_t* bytes = transfer.buffer->data;
        received_.insert(received_.end(), bytes, bytes + length);
        transfer.actualLength = static_cast<int>(length);
    }
    transfer.due = due;
}

void EmulatedUsbDevice::answerControl(InFlight& transfer) {
    const std::uint8_t* setup = transfer.buffer->data;
    const std::uint16_t requested = little16(setup + 6);
    if ((setup[0] & kTypeMask) == kTypeVendor) {
        vendorRequests_.push_back(setup[1]);
    }
    if ((setup[0] & kDirectionIn) == 0) {
        transfer.actualLength = requested;
        return;
    }
    if (refusingStrings_ && (setup[0] & kTypeMask) == kTypeStandard && setup[1] == kGetDescriptor &&
        setup[3] == kStringDescriptorType) {
        transfer.status = -EPIPE;
        return;
    }
    std::vector<std::uint8_t> response = controlInResponse(setup);
    const std::size_t room = static_cast<std::size_t>(transfer.buffer->data_len) - kSetupBytes;
    const std::size_t length = std::min({response.size(), std::size_t{requested}, room});
    std::copy_n(response.begin(), length, transfer.buffer->data + kSetupBytes);
    transfer.actualLength = static_cast<int>(length);
}

std::vector<std::uint8_t> EmulatedUsbDevice::controlInResponse(const std::uint8_t* setup) {
    const std::uint16_t requested = little16(setup + 6);
    if ((setup[0] & kTypeMask) == kTypeStandard && setup[1] == kGetDescriptor) {
        const std::uint8_t type = setup[3];
        const std::uint8_t index = setup[2];
        if (type == 1) {
            return deviceDescriptor(model_);
        }
        if (type == 2) {
            return configurationDescriptor(model_);
        }
        if (type == kStringDescriptorType) {
            switch (index) {
                case 0:
                    return languageDescriptor();
                case 1:
                    return stringDescriptor(model_.manufacturer);
                case 2:
                    return stringDescriptor(model_.product);
                case 3:
                    return stringDescriptor(model_.serial);
                default:
                    break;
            }
        }
        return {};
    }
    // Vendor requests that read (modem status, latency timer, ...): all zeros.
    return std::vector<std::uint8_t>(requested, 0);
}

void EmulatedUsbDevice::reap(UMockdevIoctlClient* client, const std::string& node, bool gone) {
    InFlight transfer;
    {
        const std::lock_guard lock(mutex_);
        const Clock::time_point now = Clock::now();
        const auto found = std::find_if(done_.begin(), done_.end(), [&](const InFlight& done) {
            return done.node == node && done.due <= now;
        });
        if (found == done_.end()) {
            umockdev_ioctl_client_complete(client, -1, gone ? ENODEV : EAGAIN);
            return;
        }
        transfer = *found;
        done_.erase(found);
        if (transfer.bulkIndex < bulkTransfers_.size()) {
            bulkTransfers_[transfer.bulkIndex].reaped = now;
        }
    }
    auto* urb = reinterpret_cast<usbdevfs_urb*>(transfer.urb->data);
    urb->status = transfer.status;
    urb->actual_length = transfer.actualLength;
    // The kernel answers a reap by storing the address of the finished URB.
    UMockdevIoctlData* slot = resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(void*));
    umockdev_ioctl_data_set_ptr(slot, 0, transfer.urb);
    umockdev_ioctl_client_complete(client, 0, 0);
    g_object_unref(slot);
    release(transfer);
}

void EmulatedUsbDevice::ignoreDiscards() {
    const std::lock_guard lock(mutex_);
    ignoringDiscards_ = true;
}

void EmulatedUsbDevice::discard(UMockdevIoctlClient* client) {
    const auto address =
        *reinterpret_cast<const unsigned long*>(umockdev_ioctl_client_get_arg(client)->data);
    const std::lock_guard lock(mutex_);
    const auto found = std::find_if(held_.begin(), held_.end(), [&](const InFlight& transfer) {
        return transfer.clientAddress == address;
    });
    if (found == held_.end()) {
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return;
    }
    if (ignoringDiscards_) {
        umockdev_ioctl_client_complete(client, 0, 0);
        return;
    }
    found->status = -ENOENT;
    found->actualLength = 0;
    if (found->bulkIndex < bulkTransfers_.size()) {
        bulkTransfers_[found->bulkIndex].status = -ENOENT;
        bulkTransfers_[found->bulkIndex].completed = Clock::now();
    }
    done_.push_back(*found);
    held_.erase(found);
    ++discarded_;
    umockdev_ioctl_client_complete(client, 0, 0);
}

void EmulatedUsbDevice::disconnect() {
    const std::lock_guard lock(mutex_);
    const Clock::time_point now = Clock::now();
    for (InFlight& held : held_) {
        held.status = -ENODEV;
        held.actualLength = 0;
        held.due = now;
        if (held.bulkIndex < bulkTransfers_.size()) {
            bulkTransfers_[held.bulkIndex].status = -ENODEV;
            bulkTransfers_[held.bulkIndex].completed = now;
        }
        done_.push_back(held);
    }
    held_.clear();
    // Transfers the chip was still taking in fail too, as the kernel fails every URB in flight:
    // their bytes never made it. They are the newest, so their bytes end what was received.
    std::vector<InFlight*> inFlight;
    for (InFlight& transfer : done_) {
        if (transfer.bulkIndex < bulkTransfers_.size() && transfer.status == 0 &&
            transfer.due > now) {
            inFlight.push_back(&transfer);
        }
    }
    for (InFlight* transfer : inFlight) {
        received_.resize(received_.size() - static_cast<std::size_t>(transfer->actualLength));
        transfer->status = -ENODEV;
        transfer->actualLength = 0;
        transfer->due = now;
        bulkTransfers_[transfer->bulkIndex].status = -ENODEV;
        bulkTransfers_[transfer->bulkIndex].completed = now;
    }
    node_.clear();
}

void EmulatedUsbDevice::connectAt(std::string node, int address) {
    const std::lock_guard lock(mutex_);
    node_ = std::move(node);
    address_ = address;
    draining_ = true;
}

int EmulatedUsbDevice::address() const {
    const std::lock_guard lock(mutex_);
    return address_;
}

void EmulatedUsbDevice::release(InFlight& transfer) {
    if (transfer.buffer != nullptr) {
        g_object_unref(transfer.buffer);
    }
    if (transfer.urb != nullptr) {
        g_object_unref(transfer.urb);
    }
    transfer.buffer = nullptr;
    transfer.urb = nullptr;
}

EmulatedUsbBus::EmulatedUsbBus() : testbed_(umockdev_testbed_new()) {
    if (testbed_ == nullptr) {
        throw std::runtime_error("umockdev test bed could not be created");
    }
}

EmulatedUsbBus::~EmulatedUsbBus() {
    // The test bed goes first, so no ioctl can reach a device that is already gone.
    g_object_unref(testbed_);
    devices_.clear();
}

EmulatedUsbDevice& EmulatedUsbBus::plugIn(const UsbDeviceModel& model, int address) {
    devices_.push_back(std::make_unique<EmulatedUsbDevice>(model));
    connect(*devices_.back(), address);
    return *devices_.back();
}

void EmulatedUsbBus::unplug(EmulatedUsbDevice& device) {
    device.disconnect();
    umockdev_testbed_remove_device(testbed_, sysfsPath(device.address()).c_str());
    // Connections made before stay open, as the host's file descriptors on a gone node do.
    GError* error = nullptr;
    if (!umockdev_testbed_detach_ioctl(testbed_, usbfsNode(device.address()).c_str(), &error)) {
        g_clear_error(&error);  // nothing was attached there any more
    }
}

void EmulatedUsbBus::plugBackIn(EmulatedUsbDevice& device, int address) {
    if (address == device.address()) {
        throw std::invalid_argument("a device plugged back in gets a new address");
    }
    connect(device, address);
}

void EmulatedUsbBus::connect(EmulatedUsbDevice& device, int address) {
    const std::string node = usbfsNode(address);
    GError* error = nullptr;
    // Attached before the device appears, so no client finds the node unanswered.
    if (!umockdev_testbed_attach_ioctl(testbed_, node.c_str(), device.handler(), &error)) {
        const std::string message = error != nullptr ? error->message : "unknown error";
        g_clear_error(&error);
        throw std::runtime_error("umockdev could not attach the ioctl handler: " + message);
    }
    device.connectAt(node, address);
    addToSysfs(device.model(), address);
}

void EmulatedUsbBus::plugInWithoutHandler(const UsbDeviceModel& model, int address) {
    addToSysfs(model, address);
}

void EmulatedUsbBus::addToSysfs(const UsbDeviceModel& model, int address) {
    const std::string descriptors = hexBytes(allDescriptors(model));
    char text[2048];
    // The usbfs node holds the descriptors too (libusb reads them from there), in upper-case
    // hex as umockdev wants for node contents.
    // The P: path is sysfsPath() without its /sys.
    std::snprintf(text, sizeof text,
                  "P: /devices/pci0000:00/0000:00:14.0/usb1/1-%d\n"
                  "N: bus/usb/001/%03d=%s\n"
                  "E: SUBSYSTEM=usb\n"
                  "E: DEVTYPE=usb_device\n"
                  "E: DEVNAME=/dev/bus/usb/001/%03d\n"
                  "E: BUSNUM=001\n"
                  "E: DEVNUM=%03d\n"
                  "A: busnum=1\\n\n"
                  "A: devnum=%d\\n\n"
                  "A: speed=%d\\n\n"
                  "A: bConfigurationValue=1\\n\n"
                  "A: idVendor=%04x\\n\n"
                  "A: idProduct=%04x\\n\n"
                  "H: descriptors=%s\n",
                  address, address, descriptors.c_str(), address, address, address, model.speedMbps,
                  model.vendorId, model.productId, descriptors.c_str());
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed_, text, &error)) {
        const std::string message = error != nullptr ? error->message : "unknown error";
        g_clear_error(&error);
        throw std::runtime_error("umockdev could not add the device: " + message);
    }
}

}  // namespace iqfeeder::testing
