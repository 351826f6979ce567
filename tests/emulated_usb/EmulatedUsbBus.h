// A USB bus made of umockdev's test bed: devices in its sysfs, usbfs nodes whose ioctls an
// EmulatedUsbDevice answers. A process started while the bus exists, with umockdev's preload
// library, sees this bus in place of the real one through the real libusb.
#pragma once

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tests/emulated_usb/UsbDescriptors.h"

using UMockdevTestbed = struct _UMockdevTestbed;
using UMockdevIoctlBase = struct _UMockdevIoctlBase;
using UMockdevIoctlClient = struct _UMockdevIoctlClient;
using UMockdevIoctlData = struct _UMockdevIoctlData;

namespace iqfeeder::testing {

// One chip behind a usbfs node: answers control transfers from its descriptors, takes bulk
// OUT data on endpoint 0x02, and holds bulk IN transfers until the host discards them.
// Its handler runs on umockdev's own thread, so everything here is guarded by one mutex.
class EmulatedUsbDevice {
  public:
    using Clock = std::chrono::steady_clock;

    struct BulkTransfer {
        std::size_t bytes = 0;
        int status = 0;
        Clock::time_point submitted;
        // When the chip was done with it (for a held transfer: when the host discarded it).
        Clock::time_point completed = Clock::time_point::max();
        Clock::time_point reaped;
        // Whether the host had already submitted the next bulk OUT transfer when this one
        // completed, so that the chip went on without a gap.
        bool nextQueued = false;
    };

    explicit EmulatedUsbDevice(UsbDeviceModel model);
    ~EmulatedUsbDevice();
    EmulatedUsbDevice(const EmulatedUsbDevice&) = delete;
    EmulatedUsbDevice& operator=(const EmulatedUsbDevice&) = delete;

    // The bulk OUT transfer with this 0-based index fails with the kernel's error code for it:
    // EPIPE a stalled endpoint, EPROTO a bus error, ENODEV a device that went away.
    void failBulkTransfer(std::size_t index, int error = EPIPE);
    // The bulk OUT transfer with this 0-based index completes with only its first `bytes` taken.
    void shortenBulkTransfer(std::size_t index, std::size_t bytes);
    // Bulk OUT transfers are held until the host gives up and discards them.
    void stopDraining();
    // The oldest `count` held bulk OUT transfers are done now.
    void drainHeld(std::size_t count);
    // Each bulk OUT transfer takes its bytes at this rate, one transfer after the other, as a
    // chip emptying its FIFO onto its output would; the host can reap a transfer only once it
    // is done. Without it, every transfer is done as soon as it is submitted.
    void drainAt(std::size_t bytesPerSecond);
    // Requests for string descriptors stall, as on a chip with a broken EEPROM.
    void refuseStrings();
    // Takes a discard but never gives the transfer back, as a wedged host controller.
    void ignoreDiscards();
    // Runs once, on the handler's thread, when the bytes received reach `total`, before the
    // host learns that the transfer carrying them is done.
    void whenBytesReceived(std::size_t total, std::function<void()> action);

    std::vector<std::uint8_t> receivedBytes() const;
    std::vector<BulkTransfer> bulkTransfers() const;
    std::size_t discardedTransfers() const;
    // Vendor requests (bRequest) the host sent to the chip, in order.
    std::vector<std::uint8_t> vendorRequests() const;
    int interfaceClaims() const;
    int interfaceReleases() const;
    // Requests this emulation does not know, as hex codes; umockdev refuses them.
    std::vector<std::string> unknownRequests() const;

    UMockdevIoctlBase* handler() const { return handler_; }
    const UsbDeviceModel& model() const { return model_; }

    // Called by the bus. Off the bus, as on a disconnect: the transfers the chip holds or is
    // still taking in fail with ENODEV (their bytes count as never received), and so does every
    // request made on the node it had, also once it is back on another (a reap hands back what
    // is done first).
    void disconnect();
    // On the bus at this node (usbfs path), as a chip fresh from its reset: draining again.
    void connectAt(std::string node, int address);
    int address() const;

  private:
    struct InFlight {
        UMockdevIoctlData* urb = nullptr;
        UMockdevIoctlData* buffer = nullptr;
        unsigned long clientAddress = 0;
        int status = 0;
        int actualLength = 0;
        std::size_t bulkIndex = SIZE_MAX;  // SIZE_MAX: not a bulk OUT transfer
        std::string node;                  // the usbfs node it was submitted on
        Clock::time_point due;             // the host may reap it from then on
    };

    static int onIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* self);
    bool handle(UMockdevIoctlClient* client);
    void submit(UMockdevIoctlClient* client);
    void acceptBulk(InFlight& transfer, std::size_t length);
    void take(InFlight& transfer, Clock::time_point due);
    void answerControl(InFlight& transfer);
    std::vector<std::uint8_t> controlInResponse(const std::uint8_t* setup);
    void reap(UMockdevIoctlClient* client, const std::string& node, bool gone);
    void discard(UMockdevIoctlClient* client);
    static void release(InFlight& transfer);

    UsbDeviceModel model_;
    UMockdevIoctlBase* handler_ = nullptr;

    mutable std::mutex mutex_;
    std::vector<InFlight> held_;
    std::vector<InFlight> done_;
    std::vector<std::uint8_t> received_;
    std::vector<BulkTransfer> bulkTransfers_;
    std::vector<std::uint8_t> vendorRequests_;
    std::vector<std::string> unknownRequests_;
    std::size_t discarded_ = 0;
    int claims_ = 0;
    int releases_ = 0;
    std::map<std::size_t, int> failingBulk_;            // bulk OUT index -> error
    std::map<std::size_t, std::size_t> shortenedBulk_;  // bulk OUT index -> bytes taken
    bool draining_ = true;
    std::size_t drainBytesPerSecond_ = 0;  // 0: at once
    Clock::time_point drainedUntil_;
    bool refusingStrings_ = false;
    bool ignoringDiscards_ = false;
    std::string node_;  // empty while off the bus
    int address_ = 0;
    std::size_t actionThreshold_ = 0;
    std::function<void()> action_;
};

class EmulatedUsbBus {
  public:
    // From here until the bus is gone, UMOCKDEV_DIR in this process's environment points at it.
    EmulatedUsbBus();
    ~EmulatedUsbBus();
    EmulatedUsbBus(const EmulatedUsbBus&) = delete;
    EmulatedUsbBus& operator=(const EmulatedUsbBus&) = delete;

    // Plugs a device into bus 1 at the given address. Only devices with a handler answer
    // ioctls; without one the host can still read the descriptors.
    EmulatedUsbDevice& plugIn(const UsbDeviceModel& model, int address = 2);
    void plugInWithoutHandler(const UsbDeviceModel& model, int address = 2);
    // Takes the device off the bus, as the kernel does when it is unplugged: a listing no
    // longer finds it, and what the host still has open on it fails with ENODEV.
    void unplug(EmulatedUsbDevice& device);
    // Plugs an unplugged device back in at a new address, as the kernel numbers it anew; the
    // host lists and opens it again there.
    void plugBackIn(EmulatedUsbDevice& device, int address);

  private:
    void connect(EmulatedUsbDevice& device, int address);
    void addToSysfs(const UsbDeviceModel& model, int address);

    UMockdevTestbed* testbed_ = nullptr;
    std::vector<std::unique_ptr<EmulatedUsbDevice>> devices_;
};

}  // namespace iqfeeder::testing
