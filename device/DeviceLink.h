// The program's only contact with the transmitter: list, open the first device, write each pass
// buffer in five slices, close. Every failure is printed and the run carries on.
#pragma once

#include <cstdint>

#include "common/Console.h"
#include "device/Ftd2xx.h"

namespace iqfeeder {

class DeviceLink {
  public:
    DeviceLink(const DriverTable& driver, Console& console) : driver_(driver), console_(console) {}
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

    void listDevices();
    void openFirstDevice();
    void sendBuffer(std::uint8_t* buffer, std::uint32_t bufferSize);
    void closeDevice();

  private:
    DriverTable driver_;
    Console& console_;
    bool listed_ = false;
    bool open_ = false;
    FT_HANDLE deviceHandle_ = nullptr;
};

}  // namespace iqfeeder
