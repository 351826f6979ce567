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

}  // namespace iqfeeder
