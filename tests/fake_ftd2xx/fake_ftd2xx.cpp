// A stand-in for the maker's D2XX library, loaded by the real program at run time in the
// end-to-end tests. Steered by environment variables so each test sets up its own device:
//   FAKE_FTD2XX_DEVICES            number of attached devices (default 1); device i has the
//                                  description "Fake Transmitter i" and the serial "FAKE000i";
//                                  listed all at once by description, serials one by index
//   FAKE_FTD2XX_OPEN_STATUS        status FT_Open returns (default 0)
//   FAKE_FTD2XX_CAPTURE            file the accepted bytes are appended to
//   FAKE_FTD2XX_LOG                file each call's name is appended to
//   FAKE_FTD2XX_BYTES_PER_SECOND   pace of FT_Write, as a device draining at that rate
//   FAKE_FTD2XX_FAIL_WRITES_FROM   0-based index of the first write that fails (and all later)
//   FAKE_FTD2XX_LIST_STATUS        status both listing calls return (default 0)
//   FAKE_FTD2XX_FAIL_WRITE_AT      0-based index of the one write that fails
//   FAKE_FTD2XX_ACCEPT_BYTES       bytes each write takes of its slice (default all)
//   FAKE_FTD2XX_SHORT_BY           bytes fewer than asked each write takes, when it asks more
//   FAKE_FTD2XX_HOLD_LOG           set: the log stays open from the first call until the library
//                                  is unloaded, as a driver with a log file of its own keeps it
//   FAKE_FTD2XX_UNPLUG_AT_WRITE, FAKE_FTD2XX_UNPLUGGED_MS
//                                  from the write with that 0-based index on, the device is gone
//                                  for that many ms: writes fail with FT_IO_ERROR, the listing
//                                  finds nothing and the open fails; then it is back
//   FAKE_FTD2XX_LATER_BYTES_PER_SECOND, FAKE_FTD2XX_PACE_CHANGE_MS
//                                  the pace from that many ms after the first write on
//   FAKE_FTD2XX_HANG_AT_WRITE      0-based index of a write that never returns, as a wedged chip's
//   FAKE_FTD2XX_HANG_MARK          with it: a file the hanging write creates, and whose presence
//                                  stops the hang, so a restarted program goes on
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>

#ifdef _WIN32
#define FAKE_FTD2XX_EXPORT __declspec(dllexport)
#else
#define FAKE_FTD2XX_EXPORT __attribute__((visibility("default")))
#endif
// The maker's calling convention, which only 32-bit Windows tells apart.
#if defined(_WIN32) && !defined(_WIN64)
#define FAKE_FTD2XX_API __stdcall
#else
#define FAKE_FTD2XX_API
#endif

#ifdef FAKE_FTD2XX_NEEDS_DEPENDENCY
extern "C" int fake_ftd2xx_dependency();
#endif

using FT_STATUS = std::uint32_t;
using DWORD = std::uint32_t;
using FT_HANDLE = void*;

namespace {

constexpr DWORD kListNumberOnly = 0x80000000U;
constexpr DWORD kListAllByDescription = 0x20000002U;
constexpr DWORD kListByIndex = 0x40000000U;
constexpr DWORD kBySerial = 1U;
int deviceToken = 0;
int devicesOpen = 0;
// The log, while FAKE_FTD2XX_HOLD_LOG keeps it open.
struct HeldLog {
    std::FILE* file = nullptr;
    HeldLog() = default;
    HeldLog(const HeldLog&) = delete;
    HeldLog& operator=(const HeldLog&) = delete;
    ~HeldLog() {
        if (file != nullptr) {
            std::fclose(file);
        }
    }
} held;
std::uint64_t writesSoFar = 0;
// When the paced device will have drained everything it was given.
std::chrono::steady_clock::time_point drainedAt;
std::chrono::steady_clock::time_point firstWriteAt;
std::optional<std::chrono::steady_clock::time_point> unpluggedAt;

long envNumber(const char* name, long fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::strtol(value, nullptr, 10) : fallback;
}

// Gone, as FAKE_FTD2XX_UNPLUG_AT_WRITE and FAKE_FTD2XX_UNPLUGGED_MS say.
bool unplugged() {
    return unpluggedAt && std::chrono::steady_clock::now() - *unpluggedAt <
                              std::chrono::milliseconds(envNumber("FAKE_FTD2XX_UNPLUGGED_MS", 0));
}

void appendTo(const char* variable, const void* data, std::size_t size) {
    const char* path = std::getenv(variable);
    if (path == nullptr) {
        return;
    }
    if (std::FILE* file = std::fopen(path, "ab")) {
        std::fwrite(data, 1, size, file);
        std::fclose(file);
    }
}

void logCall(const std::string& text) {
    const std::string line = text + "\n";
    const char* path = std::getenv("FAKE_FTD2XX_LOG");
    if (held.file == nullptr && path != nullptr && std::getenv("FAKE_FTD2XX_HOLD_LOG") != nullptr) {
        held.file = std::fopen(path, "ab");
    }
    if (held.file != nullptr) {
        std::fwrite(line.data(), 1, line.size(), held.file);
        std::fflush(held.file);
        return;
    }
    appendTo("FAKE_FTD2XX_LOG", line.data(), line.size());
}

}  // namespace

extern "C" {

FAKE_FTD2XX_EXPORT FT_STATUS FAKE_FTD2XX_API FT_ListDevices(void* arg1, void* arg2, DWORD flags) {
    const auto count =
        unplugged() ? DWORD{0} : static_cast<DWORD>(envNumber("FAKE_FTD2XX_DEVICES", 1));
    if (const auto status = static_cast<FT_STATUS>(envNumber("FAKE_FTD2XX_LIST_STATUS", 0))) {
        logCall("FT_ListDevices failed");
        return status;
    }
    if (flags == kListNumberOnly) {
        logCall("FT_ListDevices count");
        *static_cast<DWORD*>(arg1) = count;
        return 0;
    }
    if (flags == (kListByIndex | kBySerial)) {
        // The index comes in place of the first pointer. The maker's library answers this for an
        // open device through the device itself, which may never return: the log says so.
        const auto index = static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(arg1));
        logCall("FT_ListDevices serial " + std::to_string(index) +
                (devicesOpen > 0 ? " of an open device" : ""));
        if (index >= count) {
            return 2;
        }
        std::snprintf(static_cast<char*>(arg2), 64, "FAKE%04u", static_cast<unsigned>(index));
        return 0;
    }
    logCall("FT_ListDevices all");
    if (flags != kListAllByDescription) {
        return 18;
    }
    auto** buffers = static_cast<char**>(arg1);
    for (DWORD i = 0; i < count && buffers[i] != nullptr; ++i) {
        std::snprintf(buffers[i], 64, "Fake Transmitter %u", static_cast<unsigned>(i));
    }
    *static_cast<DWORD*>(arg2) = count;
    return count > 0 ? 0 : 2;
}

FAKE_FTD2XX_EXPORT FT_STATUS FAKE_FTD2XX_API FT_Open(int index, FT_HANDLE* handle) {
    logCall("FT_Open " + std::to_string(index));
    const auto status = unplugged()
                            ? FT_STATUS{2}
                            : static_cast<FT_STATUS>(envNumber("FAKE_FTD2XX_OPEN_STATUS", 0));
    if (status == 0) {
        *handle = &deviceToken;
        ++devicesOpen;
    }
    return status;
}

FAKE_FTD2XX_EXPORT FT_STATUS FAKE_FTD2XX_API FT_Write(FT_HANDLE handle, void* buffer, DWORD size,
                                                      DWORD* written) {
    const long failFrom = envNumber("FAKE_FTD2XX_FAIL_WRITES_FROM", -1);
    const std::uint64_t index = writesSoFar++;
    const long failAt = envNumber("FAKE_FTD2XX_FAIL_WRITE_AT", -1);
    if (const long unplugAt = envNumber("FAKE_FTD2XX_UNPLUG_AT_WRITE", -1);
        unplugAt >= 0 && index == static_cast<std::uint64_t>(unplugAt)) {
        unpluggedAt = std::chrono::steady_clock::now();
    }
    if (unplugged()) {
        *written = 0;
        return 4;
    }
    if (const long hangAt = envNumber("FAKE_FTD2XX_HANG_AT_WRITE", -1);
        hangAt >= 0 && index == static_cast<std::uint64_t>(hangAt)) {
        const char* mark = std::getenv("FAKE_FTD2XX_HANG_MARK");
        FILE* seen = mark != nullptr ? std::fopen(mark, "r") : nullptr;
        if (seen != nullptr) {
            (void)std::fclose(seen);
        } else {
            if (FILE* made = mark != nullptr ? std::fopen(mark, "w") : nullptr) {
                (void)std::fclose(made);
            }
            for (;;) {
                std::this_thread::sleep_for(std::chrono::hours(1));
            }
        }
    }
    if (handle != &deviceToken ||
        (failFrom >= 0 && index >= static_cast<std::uint64_t>(failFrom)) ||
        (failAt >= 0 && index == static_cast<std::uint64_t>(failAt))) {
        *written = 0;
        return 4;
    }
    size = std::min(size, static_cast<DWORD>(envNumber("FAKE_FTD2XX_ACCEPT_BYTES", size)));
    if (const auto shortBy = static_cast<DWORD>(envNumber("FAKE_FTD2XX_SHORT_BY", 0));
        size > shortBy) {
        size -= shortBy;
    }
    appendTo("FAKE_FTD2XX_CAPTURE", buffer, size);
    long rate = envNumber("FAKE_FTD2XX_BYTES_PER_SECOND", 0);
    if (index == 0) {
        firstWriteAt = std::chrono::steady_clock::now();
    }
    if (const long changeMs = envNumber("FAKE_FTD2XX_PACE_CHANGE_MS", -1);
        changeMs >= 0 &&
        std::chrono::steady_clock::now() - firstWriteAt >= std::chrono::milliseconds(changeMs)) {
        rate = envNumber("FAKE_FTD2XX_LATER_BYTES_PER_SECOND", rate);
    }
    if (rate > 0) {
        // Return when a device draining at `rate` has taken this slice too. An idle device
        // banks no credit: the 2 s probe must not let the first buffers through at once.
        const auto now = std::chrono::steady_clock::now();
        drainedAt = std::max(drainedAt, now) +
                    std::chrono::nanoseconds(static_cast<std::uint64_t>(size) * 1000000000U /
                                             static_cast<std::uint64_t>(rate));
        std::this_thread::sleep_until(drainedAt);
    }
    *written = size;
    return 0;
}

FAKE_FTD2XX_EXPORT FT_STATUS FAKE_FTD2XX_API FT_SetTimeouts(FT_HANDLE handle, DWORD readTimeout,
                                                            DWORD writeTimeout) {
    logCall("FT_SetTimeouts " + std::to_string(readTimeout) + " " + std::to_string(writeTimeout));
    return handle == &deviceToken ? 0 : 1;
}

#ifndef FAKE_FTD2XX_WITHOUT_CLOSE
FAKE_FTD2XX_EXPORT FT_STATUS FAKE_FTD2XX_API FT_Close(FT_HANDLE handle) {
#ifdef FAKE_FTD2XX_NEEDS_DEPENDENCY
    fake_ftd2xx_dependency();
#endif
    logCall("FT_Close");
    if (handle != &deviceToken) {
        return 1;
    }
    --devicesOpen;
    return 0;
}
#endif
}
