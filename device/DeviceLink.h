// The program's only contact with the transmitter: list, open the chosen device (index 0 unless
// the operator picks another), write each pass buffer in five slices, close. Every failure is
// printed and the run carries on.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/Console.h"
#include "device/Ftd2xx.h"

namespace iqfeeder {

// Which device to open: by index, or by exact serial number when one is given.
struct DeviceChoice {
    int index = 0;
    std::string serial;  // empty: open by index
};

// What the device took over the run, for the summary at its end.
struct DeviceCounters {
    std::uint64_t bytesAccepted = 0;
    std::uint64_t failedWrites = 0;
    std::uint64_t shortWrites = 0;
    std::uint64_t reconnects = 0;
};

// What became of one buffer.
struct SendResult {
    std::uint32_t offered = 0;  // bytes handed over before the slice that failed (or stop)
    bool failed = false;        // a slice failed, or no device was open: the rest did not go
    bool lost = false;          // the device is gone (only with reconnecting on)
};

class DeviceLink {
  public:
    // Asked before every slice: once it holds, no further slice is written.
    using StopQuery = std::function<bool()>;

    // Diagnostics (a serial number no device has) go to their own console, standard error in
    // the program.
    DeviceLink(const DriverTable& driver, Console& console, Console& diagnostics,
               StopQuery stopRequested = {})
        : driver_(driver),
          console_(console),
          diagnostics_(diagnostics),
          stopRequested_(std::move(stopRequested)) {}
    DeviceLink(const DriverTable& driver, Console& console)
        : DeviceLink(driver, console, console) {}
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

    // With reconnecting on, a device that is gone (a write fails with FT_IO_ERROR or
    // FT_DEVICE_NOT_FOUND, or the open at start fails) is closed and looked for again by
    // reconnect(), by the serial number it had or else by its index.
    void setReconnecting(bool on) { reconnecting_ = on; }

    void listDevices();
    void openFirstDevice() { openDevice(DeviceChoice{}); }
    void openDevice(const DeviceChoice& choice);
    SendResult sendBuffer(std::uint8_t* buffer, std::uint32_t bufferSize);
    void closeDevice();

    // Gone and being looked for.
    bool lost() const { return lost_; }
    // One attempt to find the lost device and open it; true when it is back.
    bool reconnect();

    // One line per attached device with its index, serial number and description; returns how
    // many were listed (0 after the failure lines).
    std::uint32_t printDeviceTable();

    const DeviceCounters& counters() const { return counters_; }

  private:
    // The text the driver gives for one device in FT_LIST_BY_INDEX mode; empty when it fails.
    std::string describeByIndex(std::uint32_t index, DWORD what);
    // The index of the listed device with this serial number, or -1 (after saying so).
    int findSerial(const std::string& serial);
    bool stopping() const { return stopRequested_ && stopRequested_(); }
    // How many devices the driver counts; 0 when the count fails or is beyond belief.
    DWORD countDevices();
    void sayNoDevices();
    bool open(int index);
    void loseDevice();

    DriverTable driver_;
    Console& console_;
    Console& diagnostics_;
    StopQuery stopRequested_;
    bool listed_ = false;
    bool open_ = false;
    FT_HANDLE deviceHandle_ = nullptr;
    bool reconnecting_ = false;
    bool lost_ = false;
    bool everOpen_ = false;
    int openedIndex_ = 0;
    std::string openedSerial_;               // of the device opened, when reconnecting is on
    std::vector<std::string> descriptions_;  // as listed, one per attached device
    DeviceCounters counters_;
};

}  // namespace iqfeeder
