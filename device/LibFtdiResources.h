// Owners for libftdi1's context and device list, so every path out of a call releases them.
#pragma once

#include <ftdi.h>

#include <memory>

namespace iqfeeder {

struct FtdiContextDeleter {
    void operator()(ftdi_context* context) const { ftdi_free(context); }
};
using FtdiContext = std::unique_ptr<ftdi_context, FtdiContextDeleter>;

struct FtdiDeviceListDeleter {
    void operator()(ftdi_device_list* list) const { ftdi_list_free2(list); }
};
using FtdiDeviceList = std::unique_ptr<ftdi_device_list, FtdiDeviceListDeleter>;

// The FTDI devices on the bus, found with libftdi1's table of FTDI product ids.
struct FtdiDevices {
    int count = 0;  // negative when libusb could not list the bus
    FtdiDeviceList list;
};

inline FtdiDevices findFtdiDevices(ftdi_context& context) {
    ftdi_device_list* head = nullptr;
    FtdiDevices found;
    found.count = ftdi_usb_find_all(&context, &head, 0, 0);
    found.list.reset(head);
    return found;
}

// A context of its own and the FTDI devices it found, for one listing or open. The list goes
// before the context.
struct FtdiBus {
    FtdiContext context;
    FtdiDevices devices;

    // False when libusb could not start (no USB subsystem) or could not list the bus.
    bool listed() const { return context && devices.count >= 0; }
    // The device at this index of the listing, or null past its end.
    const ftdi_device_list* at(std::size_t index) const {
        const ftdi_device_list* entry = devices.list.get();
        for (std::size_t i = 0; entry != nullptr && i < index; ++i) {
            entry = entry->next;
        }
        return entry;
    }
};

inline FtdiBus scanFtdiBus() {
    FtdiBus bus{FtdiContext(ftdi_new()), {}};
    bus.devices.count = -1;
    if (bus.context) {
        bus.devices = findFtdiDevices(*bus.context);
    }
    return bus;
}

}  // namespace iqfeeder
