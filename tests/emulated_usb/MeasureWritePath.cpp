// Measures the libftdi1 write path against an emulated chip: bulk transfers per slice and time
// per pass buffer (32000 and 64000 bytes), for libftdi1's default 4096-byte write chunk and for one
// transfer per slice. Not a test: run it by hand (it puts itself under umockdev's preload library).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <vector>

#include "common/Console.h"
#include "device/DeviceLink.h"
#include "device/LibFtdiDriver.h"
#include "tests/emulated_usb/EmulatedUsbBus.h"
#include "tests/emulated_usb/UmockdevPreload.h"

namespace {

using iqfeeder::testing::EmulatedUsbBus;
using iqfeeder::testing::UsbDeviceModel;

constexpr int kBuffers = 200;

void measure(const UsbDeviceModel& model, std::uint32_t bufferBytes, std::uint32_t chunkBytes) {
    EmulatedUsbBus bus;
    auto& chip = bus.plugIn(model);
    iqfeeder::LibFtdiDriver driver(chunkBytes);
    std::ostringstream out;
    iqfeeder::Console console(out);
    iqfeeder::DeviceLink link(driver.table(), console);
    link.listDevices();
    link.openFirstDevice();

    std::vector<std::uint8_t> buffer(bufferBytes, 0x5A);
    std::vector<double> microseconds;
    for (int i = 0; i < kBuffers; ++i) {
        const auto begin = std::chrono::steady_clock::now();
        link.sendBuffer(buffer.data(), bufferBytes);
        const auto end = std::chrono::steady_clock::now();
        microseconds.push_back(std::chrono::duration<double, std::micro>(end - begin).count());
    }
    link.closeDevice();

    std::sort(microseconds.begin(), microseconds.end());
    double total = 0;
    for (const double value : microseconds) {
        total += value;
    }
    const double transfersPerSlice =
        static_cast<double>(chip.bulkTransfers().size()) / (5.0 * kBuffers);
    std::printf(
        "%-7s buffer %5u, chunk %5u: %4.1f transfers/slice, per buffer: median %6.0f us,"
        " mean %6.0f us, received %zu bytes%s\n",
        model.name.c_str(), bufferBytes, chunkBytes, transfersPerSlice,
        microseconds[microseconds.size() / 2], total / kBuffers, chip.receivedBytes().size(),
        out.str().find("Failed") != std::string::npos ||
                out.str().find("TimeOut") != std::string::npos
            ? " (write errors!)"
            : "");
}

}  // namespace

int main(int argc, char** argv) {
    iqfeeder::testing::ensureUmockdevPreload(argc, argv);
    for (const UsbDeviceModel& model : {iqfeeder::testing::ft232r(), iqfeeder::testing::ft232h()}) {
        for (const std::uint32_t bufferBytes : {32000U, 64000U}) {
            measure(model, bufferBytes, 4096);
            measure(model, bufferBytes, iqfeeder::LibFtdiDriver::kDefaultWriteChunkBytes);
        }
    }
    return 0;
}
