#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "app/StopSignal.h"

namespace iqfeeder {
namespace {

// What the default handler ends a process with on Ctrl-C or Ctrl-Break.
constexpr UINT kControlCExit = 0xC000013AU;

// The process's one piece of global state: what the handler tells the run. The handler runs on
// a thread the system starts for each console event.
volatile LONG stopping = 0;
HANDLE stopEvent = nullptr;

BOOL WINAPI onConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        return FALSE;
    }
    if (::InterlockedExchange(&stopping, 1) != 0) {
        return FALSE;  // the second one: the default handler ends the process now
    }
    ::SetEvent(stopEvent);
    // The run ends the process itself once the device is closed; if it has not within the
    // deadline, the default handler does.
    ::Sleep(kStopDeadlineMs);
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

}  // namespace iqfeeder
