// The Windows halves of the test helpers whose POSIX versions live in tests/support.
#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include "tests/windows/WindowsSupport.h"

#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>

#include "tests/support/ChildProcess.h"
#include "tests/support/RunFixture.h"
#include "tests/support/TempDir.h"

namespace iqfeeder::testing {

namespace {

class Handle {
  public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() {
        if (handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr) {
            ::CloseHandle(handle_);
        }
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }

  private:
    HANDLE handle_;
};

// Quotes one argument so the child's C runtime splits the command line back into it.
std::string quoted(const std::string& argument) {
    std::string out = "\"";
    std::size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        out.push_back(c);
    }
    out.append(backslashes * 2, '\\');
    return out + "\"";
}

struct CaseInsensitiveLess {
    bool operator()(const std::string& a, const std::string& b) const {
        return ::_stricmp(a.c_str(), b.c_str()) < 0;
    }
};

// This process's environment with the extra variables set, as the block CreateProcess takes.
std::string environmentBlock(const std::map<std::string, std::string>& extra) {
    std::map<std::string, std::string, CaseInsensitiveLess> variables;
    if (char* strings = ::GetEnvironmentStringsA()) {
        for (const char* entry = strings; *entry != '\0'; entry += std::strlen(entry) + 1) {
            // Skip the first character so the hidden "=C:=C:\..." entries keep their name.
            const char* equals = std::strchr(entry + 1, '=');
            if (equals != nullptr) {
                variables[std::string(entry, equals)] = equals + 1;
            }
        }
        ::FreeEnvironmentStringsA(strings);
    }
    for (const auto& [name, value] : extra) {
        variables[name] = value;
    }
    std::string block;
    for (const auto& [name, value] : variables) {
        block += name + "=" + value;
        block.push_back('\0');
    }
    block.push_back('\0');
    return block;
}

Handle inheritableFile(const std::string& path, ::DWORD access, ::DWORD disposition) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return Handle(::CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// The child's standard input: NUL, or an inheritable duplicate of the caller's handle.
Handle standardInputFor(const ChildOptions& options) {
    if (options.stdinHandle == nullptr) {
        return inheritableFile("NUL", GENERIC_READ, OPEN_EXISTING);
    }
    HANDLE copy = nullptr;
    const HANDLE self = ::GetCurrentProcess();
    if (!::DuplicateHandle(self, options.stdinHandle, self, &copy, 0, TRUE,
                           DUPLICATE_SAME_ACCESS)) {
        copy = nullptr;
    }
    return Handle(copy);
}

std::string contents(const std::string& path) {
    const auto bytes = readFile(path);
    return {bytes.begin(), bytes.end()};
}

std::wstring wide(const std::string& utf8) {
    std::wstring out(utf8.size(), L'\0');
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                             out.data(), static_cast<int>(out.size()));
    out.resize(static_cast<std::size_t>(std::max(length, 0)));
    return out;
}

// Starts argv (UTF-8, as every path in the tests) through the UTF-16 command line, as Windows
// starts a program for the operator; waits for it and returns its exit status.
// Runs the child to its end; with ChildOptions::stopAfterMs, sends it Ctrl-Break then.
int runProcess(const std::vector<std::string>& argv,
               const std::map<std::string, std::string>& extraEnvironment, STARTUPINFOW& startup,
               const ChildOptions& options = {}, bool* stopSent = nullptr) {
    std::string commandLine;
    for (const auto& argument : argv) {
        commandLine += (commandLine.empty() ? "" : " ") + quoted(argument);
    }
    std::wstring wideCommandLine = wide(commandLine);
    std::string environment = environmentBlock(extraEnvironment);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    // A process group of its own, so that a Ctrl-Break sent to the group reaches the child alone.
    const ::DWORD flags = options.stopAfterMs ? CREATE_NEW_PROCESS_GROUP : 0;
    if (!::CreateProcessW(wide(argv.at(0)).c_str(), wideCommandLine.data(), nullptr, nullptr, TRUE,
                          flags, environment.data(), nullptr, &startup, &process)) {
        throw std::runtime_error("cannot start " + argv.at(0));
    }
    const Handle processHandle(process.hProcess);
    const Handle threadHandle(process.hThread);
    if (options.stopAfterMs &&
        ::WaitForSingleObject(process.hProcess, *options.stopAfterMs) == WAIT_TIMEOUT &&
        stopSent != nullptr) {
        // Only where this process shares a console with the child (not under wine).
        *stopSent = ::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, process.dwProcessId) != FALSE;
    }
    ::WaitForSingleObject(process.hProcess, INFINITE);
    ::DWORD exitCode = 0;
    return ::GetExitCodeProcess(process.hProcess, &exitCode) ? static_cast<int>(exitCode) : -1;
}

}  // namespace

void resizeFile(const std::string& path, std::int64_t length) {
    Handle file(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        throw std::runtime_error("cannot open " + path + " to resize it");
    }
    // Sparse, so the gigabyte-sized files of some tests take no room on disk.
    ::DWORD ignored = 0;
    ::DeviceIoControl(file.get(), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
    LARGE_INTEGER end;
    end.QuadPart = length;
    if (!::SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN) || !::SetEndOfFile(file.get())) {
        throw std::runtime_error("cannot resize " + path);
    }
}

// Standard output and error go to files rather than pipes, so nothing can fill up and stall
// the child while we wait for it.
ChildResult runChild(const std::vector<std::string>& argv,
                     const std::map<std::string, std::string>& extraEnvironment,
                     const ChildOptions& options) {
    if (options.user) {
        throw std::runtime_error("running the child as another user is not offered on Windows");
    }
    const TempDir scratch;
    const std::string outPath = scratch.file("out");
    const std::string errPath = scratch.file("err");
    ChildResult result;
    {
        const Handle in = standardInputFor(options);
        const Handle out = inheritableFile(outPath, GENERIC_WRITE, CREATE_ALWAYS);
        const Handle err = inheritableFile(errPath, GENERIC_WRITE, CREATE_ALWAYS);
        if (!in.valid() || !out.valid() || !err.valid()) {
            throw std::runtime_error("cannot set up the child's standard handles");
        }
        STARTUPINFOW startup{};
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = in.get();
        startup.hStdOutput = out.get();
        startup.hStdError = err.get();
        result.exitStatus = runProcess(argv, extraEnvironment, startup, options, &result.stopSent);
    }
    result.out = contents(outPath);
    result.err = contents(errPath);
    return result;
}

int runChildOnThisConsole(const std::vector<std::string>& argv,
                          const std::map<std::string, std::string>& extraEnvironment) {
    STARTUPINFOW startup{};
    return runProcess(argv, extraEnvironment, startup);
}

DeviceOpenProbe::DeviceOpenProbe(const std::string& deviceName)
    : deviceName_(wide(deviceName)),
      pipeName_(L"iqfeeder-probe-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                deviceName_) {
    // Never waits: a connect call only tells whether a client came.
    pipe_ = ::CreateNamedPipeW((L"\\\\.\\pipe\\" + pipeName_).c_str(), PIPE_ACCESS_DUPLEX,
                               PIPE_TYPE_BYTE | PIPE_NOWAIT, 1, 4096, 4096, 0, nullptr);
    defined_ = pipe_ != INVALID_HANDLE_VALUE &&
               ::DefineDosDeviceW(DDD_RAW_TARGET_PATH, deviceName_.c_str(),
                                  (L"\\Device\\NamedPipe\\" + pipeName_).c_str()) != FALSE;
}

DeviceOpenProbe::~DeviceOpenProbe() {
    if (defined_) {
        ::DefineDosDeviceW(DDD_RAW_TARGET_PATH | DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE,
                           deviceName_.c_str(), (L"\\Device\\NamedPipe\\" + pipeName_).c_str());
    }
    if (pipe_ != INVALID_HANDLE_VALUE && pipe_ != nullptr) {
        ::CloseHandle(pipe_);
    }
}

bool DeviceOpenProbe::opened() const {
    // Still listening: no client ever came. Connected, or came and went: it was opened.
    const bool listening =
        ::ConnectNamedPipe(pipe_, nullptr) == FALSE && ::GetLastError() == ERROR_PIPE_LISTENING;
    return !listening;
}

}  // namespace iqfeeder::testing

namespace iqfeeder::testing {

std::filesystem::path testProgramDirectory() {
    std::string name(MAX_PATH, '\0');
    for (;;) {
        const ::DWORD length =
            ::GetModuleFileNameA(nullptr, name.data(), static_cast<::DWORD>(name.size()));
        if (length < name.size()) {
            name.resize(length);
            return std::filesystem::path(name).parent_path();
        }
        name.resize(name.size() * 2);
    }
}

ScopedEnvironment::ScopedEnvironment(const std::map<std::string, std::string>& variables) {
    for (const auto& [name, value] : variables) {
        names_.push_back(name);
        ::_putenv_s(name.c_str(), value.c_str());
    }
}

ScopedEnvironment::~ScopedEnvironment() {
    for (const auto& name : names_) {
        ::_putenv_s(name.c_str(), "");  // an empty value removes the variable
    }
}

}  // namespace iqfeeder::testing
