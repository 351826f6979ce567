// Measures the libftdi1 write path against an emulated chip, on the same run for the write the
// driver made before its transfer queue (one ftdi_write_data per slice: submit, wait, return)
// and for the queued driver: slices per second, time per pass buffer, and how often the chip
// finished a transfer with nothing queued behind it. Once with a chip that takes every transfer
// at once (the host's own cost per slice), once with one draining at a set rate (what the
// host's turn-round costs the device). Not a test: run it by hand (it puts itself under
// umockdev's preload library).
#include <ftdi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "common/Console.h"
#include "device/DeviceLink.h"
#include "device/LibFtdiDriver.h"
#include "device/LibFtdiResources.h"
#include "tests/emulated_usb/EmulatedUsbBus.h"
#include "tests/emulated_usb/UmockdevPreload.h"
#include "tests/support/TempDir.h"

namespace {

using iqfeeder::DeviceHandle;
using iqfeeder::DriverTable;
using iqfeeder::SliceReport;
using iqfeeder::testing::EmulatedUsbBus;
using iqfeeder::testing::UsbDeviceModel;

// What the synchronous writes did, until asked for: each is done when it returns.
std::vector<SliceReport> synchronousReports;

// The write as it was: one bulk transfer per slice (libftdi1's chunk raised above the largest
// slice), the call returning only once the transfer is back.
bool openSynchronous(void*, int, const iqfeeder::OpenSettings&, DeviceHandle* handle) {
    iqfeeder::FtdiContext context(ftdi_new());
    const iqfeeder::FtdiDevices devices = iqfeeder::findFtdiDevices(*context);
    if (devices.count <= 0 || ftdi_usb_open_dev(context.get(), devices.list->dev) != 0) {
        return false;
    }
    ftdi_write_data_set_chunksize(context.get(), 65536);
    synchronousReports.clear();
    *handle = context.release();
    return true;
}

void writeSynchronous(void*, DeviceHandle handle, const iqfeeder::SliceToSend& slice) {
    const int sent = ftdi_write_data(static_cast<ftdi_context*>(handle), slice.bytes,
                                     static_cast<int>(slice.size));
    synchronousReports.push_back({slice.id,
                                  sent < 0 ? iqfeeder::SliceFate::Gone : iqfeeder::SliceFate::Short,
                                  sent < 0 ? 0U : static_cast<std::uint32_t>(sent)});
}

void statusSynchronous(void*, DeviceHandle, std::vector<SliceReport>& reports) {
    reports.insert(reports.end(), synchronousReports.begin(), synchronousReports.end());
    synchronousReports.clear();
}

bool closeSynchronous(void* context, DeviceHandle handle, std::vector<SliceReport>& reports) {
    statusSynchronous(context, handle, reports);
    const iqfeeder::FtdiContext owned(static_cast<ftdi_context*>(handle));
    ftdi_usb_close(owned.get());
    return true;
}

struct Run {
    const UsbDeviceModel& model;
    std::uint32_t bufferBytes;
    int buffers;
    std::size_t drainBytesPerSecond;  // 0: the chip takes each transfer at once
    bool queued;
};

void measure(const Run& run) {
    EmulatedUsbBus bus;
    auto& chip = bus.plugIn(run.model);
    chip.drainAt(run.drainBytesPerSecond);
    iqfeeder::LibFtdiDriver driver;
    DriverTable table = driver.table();
    if (!run.queued) {
        table.open = openSynchronous;
        table.submit = writeSynchronous;
        table.status = statusSynchronous;
        table.close = closeSynchronous;
    }
    std::ostringstream out;
    iqfeeder::Console console(out);
    iqfeeder::DeviceLink link(table, console);
    link.listDevices();
    link.openFirstDevice();

    const std::size_t total = std::size_t{run.bufferBytes} * static_cast<std::size_t>(run.buffers);
    std::vector<std::uint8_t> data = iqfeeder::testing::patternBytes(total);
    std::vector<double> microseconds;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < run.buffers; ++i) {
        const auto begin = std::chrono::steady_clock::now();
        link.sendBuffer(data.data() + std::size_t{run.bufferBytes} * static_cast<std::size_t>(i),
                        run.bufferBytes);
        const auto end = std::chrono::steady_clock::now();
        microseconds.push_back(std::chrono::duration<double, std::micro>(end - begin).count());
    }
    link.closeDevice();  // the queued path's last transfers finish here
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    std::sort(microseconds.begin(), microseconds.end());
    double sum = 0;
    for (const double value : microseconds) {
        sum += value;
    }
    const auto transfers = chip.bulkTransfers();
    const auto starved = std::count_if(transfers.begin(), transfers.end(),
                                       [](const auto& transfer) { return !transfer.nextQueued; });
    const bool intact =
        chip.receivedBytes() == data && out.str().find("FT_W32") == std::string::npos;
    char drain[32] = "at once";
    char idle[64] = "";
    if (run.drainBytesPerSecond != 0) {
        std::snprintf(drain, sizeof drain, "at %zu kB/s", run.drainBytesPerSecond / 1000);
        std::snprintf(idle, sizeof idle, "; chip idle after %td of %zu transfers", starved,
                      transfers.size());
    }
    std::printf(
        "%-6s drains %-12s buffer %5u, %-12s %5.0f slices/s, per buffer: median %6.0f us,"
        " mean %6.0f us%s; %s\n",
        run.model.name.c_str(), drain, run.bufferBytes,
        run.queued ? "queued:" : "synchronous:", static_cast<double>(transfers.size()) / seconds,
        microseconds[microseconds.size() / 2], sum / run.buffers, idle,
        intact ? "bytes in order" : "BYTES OR WRITES WRONG");
}

}  // namespace

int main(int argc, char** argv) {
    iqfeeder::testing::ensureUmockdevPreload(argc, argv);
    for (const UsbDeviceModel& model : {iqfeeder::testing::ft232r(), iqfeeder::testing::ft232h()}) {
        for (const std::uint32_t bufferBytes : {32000U, 64000U}) {
            for (const bool queued : {false, true}) {
                measure({model, bufferBytes, 200, 0, queued});
            }
        }
    }
    // A chip that takes 6400 bytes in 4 ms, 250 slices/s: the device should set the pace.
    for (const bool queued : {false, true}) {
        measure({iqfeeder::testing::ft232h(), 32000, 100, 1600000, queued});
    }
    return 0;
}
