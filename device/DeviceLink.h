// The program's only contact with the transmitter: list, open the chosen device (index 0 unless
// the operator picks another), write each pass buffer in five slices, close. Every failure is
// printed and the run carries on.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "common/Console.h"
#include "device/DriverTable.h"
#include "device/SliceRing.h"

namespace iqfeeder {

// Which device to open: by index, or by exact serial number when one is given.
struct DeviceChoice {
    int index = 0;
    std::string serial;       // empty: open by index
    bool indexNamed = false;  // the operator named the index
};

// What the device took over the run, for the summary at its end.
struct DeviceCounters {
    std::uint64_t bytesAccepted = 0;
    std::uint64_t failedWrites = 0;
    std::uint64_t shortWrites = 0;
    std::uint64_t reconnects = 0;
    std::uint64_t copiedBuffers = 0;  // pass buffers not read into the ring's room
};

// What became of one buffer.
struct SendResult {
    std::uint32_t unsent = 0;  // bytes of it the device did not take and will not get
    bool failed = false;       // a slice failed, or no device was open: the rest did not go
    bool shortWrite = false;   // the device took less than a whole slice
    bool lost = false;         // the device is gone (only with reconnecting on): what it had
                               // not confirmed goes out first once it is back
};

// A write time-out for unattended runs, so a chip that stops taking data is handled as one
// that failed or is gone instead of holding the run.
inline constexpr std::uint32_t kUnattendedWriteTimeoutMs = 1000;

class DeviceLink {
  public:
    // Asked before every slice: once it holds, no further slice is written.
    using StopQuery = std::function<bool()>;

    // Diagnostics (a serial number no device has, how a device without one is looked for) go
    // to their own console, standard error in the program.
    DeviceLink(const DriverTable& driver, Console& console, Console& diagnostics,
               StopQuery stopRequested = {})
        : driver_(driver),
          console_(console),
          diagnostics_(diagnostics),
          stopRequested_(std::move(stopRequested)) {}
    DeviceLink(const DriverTable& driver, Console& console)
        : DeviceLink(driver, console, console) {}
    ~DeviceLink() { closeDevice(); }
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;
    DeviceLink(DeviceLink&&) = delete;
    DeviceLink& operator=(DeviceLink&&) = delete;

    // With reconnecting on, a device that is gone (a slice is reported gone or timed out, or
    // the open at start fails) is closed and looked for again by
    // reconnect(): by the serial number it was listed with, or else only at an index the
    // operator named.
    void setReconnecting(bool on) { reconnecting_ = on; }
    // Unattended runs ask the driver for a write time-out (0: the driver's default).
    void setWriteTimeout(std::uint32_t milliseconds) { settings_.writeTimeoutMs = milliseconds; }

    void listDevices();
    void openFirstDevice() { openDevice(DeviceChoice{}); }
    void openDevice(const DeviceChoice& choice);
    // Room in the ring for the next pass buffer: a buffer read into it goes to the driver
    // without a copy. Valid until the next call.
    std::span<std::uint8_t> room(std::uint32_t size) { return ring_.room(size); }
    SendResult sendBuffer(const std::uint8_t* buffer, std::uint32_t bufferSize);
    // Waits for what is on its way, then closes. A device found gone here with reconnecting
    // on is lost, with what it did not confirm kept for reconnect().
    void closeDevice();

    // Gone and being looked for.
    bool lost() const { return lost_; }
    // A device is open and being written to.
    bool isOpen() const { return open_; }
    // Bytes kept to go out once the device is back.
    bool holdsUnsent() const { return lost_ && !ring_.waiting.empty(); }
    // One attempt to find the lost device, open it and send what was kept; true when it is
    // back and took that.
    bool reconnect();

    // One line per attached device with its index, serial number and description; returns how
    // many were listed (0 after the failure lines).
    std::uint32_t printDeviceTable();

    const DeviceCounters& counters() const { return counters_; }

  private:
    // The index of the listed device with this serial number, or -1 (after saying so).
    int findSerial(const std::string& serial);
    bool stopping() const { return stopRequested_ && stopRequested_(); }
    void sayNoDevices();
    bool open(int index);
    // The index to look at for the lost device, or -1 when it is not (yet) attached.
    int whereToReconnect(const std::vector<ListedDevice>& devices) const;
    void sayHowItReconnects();
    // Hands over what waits, in order, and takes in the reports after each slice; a stop
    // asked for ends it after the slice on its way.
    void feed(SendResult* result);
    void takeReports(SendResult* result);
    void settle(const std::vector<SliceReport>& reports, SendResult* result);
    void settleOne(const SliceReport& report, SendResult* result);
    void fail(const SliceRing::Piece& piece, SendResult* result);
    // Closes the driver; what it reports of the slices on their way is settled.
    void closeDriver(SendResult* result);
    void closeHandle(std::vector<SliceReport>& reports);

    DriverTable driver_;
    Console& console_;
    Console& diagnostics_;
    StopQuery stopRequested_;
    bool listed_ = false;
    bool open_ = false;
    DeviceHandle deviceHandle_ = nullptr;
    OpenSettings settings_;
    bool reconnecting_ = false;
    bool lost_ = false;
    bool everOpen_ = false;
    DeviceChoice choice_;  // what the operator asked for
    int openedIndex_ = 0;
    std::string openedSerial_;           // as listed before the open, when reconnecting
    std::vector<ListedDevice> listing_;  // as listed at start
    std::uint64_t buffers_ = 0;          // pass buffers handed in so far
    std::uint64_t current_ = 0;          // the one being sent
    std::uint64_t slices_ = 0;           // slices handed over so far
    std::uint64_t failedBuffer_ = 0;     // the last one a failure was said for
    bool saidFailedNow_ = false;         // in the reports being settled
    bool saidLeftBehind_ = false;
    SliceRing ring_;
    std::vector<SliceRing::Piece> again_;  // to go out again, ahead of what waits
    std::vector<SliceReport> reports_;
    DeviceCounters counters_;
};

}  // namespace iqfeeder
