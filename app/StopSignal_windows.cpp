#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <array>
#include <atomic>
#include <chrono>

#include "app/RunSummary.h"
#include "app/StopSignal.h"

namespace iqfeeder {
namespace {

// What the default handler ends a process with on Ctrl-C or Ctrl-Break.
constexpr UINT kControlCExit = 0xC000013AU;

// The process's one piece of global state: what the handler tells the run. The handler runs on
// a thread the system starts for each console event.
volatile LONG stopping = 0;
HANDLE stopEvent = nullptr;
std::atomic<const StopReport*> stopReport{nullptr};

void sayReport() {
    const StopReport* report = stopReport.load();
    if (report == nullptr) {
        return;
    }
    for (ConsoleOutput* console : report->consoles) {
        if (console != nullptr) {
            console->writeHeldAtDeadline();
        }
    }
    // Figures published by the run as lock-free atomics, formatted by hand: the run's thread
    // may be anywhere, holding any lock.
    std::array<char, kRunSummaryBytes> text{};
    const auto nowMs =
        static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                       std::chrono::steady_clock::now().time_since_epoch())
                                       .count());
    const std::size_t length = formatRunSummary(
        text.data(), text.size(), report->bytesAccepted.load(), report->failedWrites.load(),
        report->shortWrites.load(), nowMs - report->startMs);
    ::DWORD written = 0;
    (void)::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), text.data(), static_cast<::DWORD>(length),
                      &written, nullptr);
}

BOOL WINAPI onConsoleControl(::DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        // The console closed, the user logging off, the system shutting down: the process ends
        // once this returns, and Windows waits some 5 s for it, more than the deadline.
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            break;
        default:
            return FALSE;
    }
    if (::InterlockedExchange(&stopping, 1) != 0) {
        return FALSE;  // the second one: the default handler ends the process now
    }
    ::SetEvent(stopEvent);
    // The run ends the process itself once the device is closed; if it has not within the
    // deadline, it is stuck in a write, and the default handler ends it after the report.
    ::Sleep(kStopDeadlineMs);
    sayReport();
    return FALSE;
}

}  // namespace

void installStopHandlers() {
    stopEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (stopEvent != nullptr) {
        ::SetConsoleCtrlHandler(onConsoleControl, TRUE);
    }
}

bool stopRequested() {
    return stopping != 0;
}

void sleepUnlessStopped(std::uint32_t milliseconds) {
    if (stopEvent == nullptr) {
        ::Sleep(milliseconds);
        return;
    }
    ::WaitForSingleObject(stopEvent, milliseconds);
}

void endByStopSignal() {
    ::ExitProcess(kControlCExit);
}

void setStopReport(const StopReport* report) {
    stopReport.store(report);
}

}  // namespace iqfeeder
