// The notification socket as systemd hands it over, against a real datagram socket: the address
// forms, and what the environment says of the watchdog.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "app/ServiceNotifier.h"
#include "tests/support/TempDir.h"

namespace iqfeeder {
namespace {

enum class Address { Path, Abstract, Missing, TooLong, Relative, BareAt, Unset };

struct NotifierCase {
    const char* name;
    Address address;
    const char* watchdogUsec;
    const char* watchdogPid;  // "self" for our own pid
    bool heard;               // the socket gets what is sent
    std::uint64_t watchdogMs;
};

const NotifierCase kCases[] = {
    {"Path", Address::Path, nullptr, nullptr, true, 0},
    {"Abstract", Address::Abstract, nullptr, nullptr, true, 0},
    {"PathWithWatchdog", Address::Path, "30000000", nullptr, true, 30000},
    {"AbstractWithWatchdogForUs", Address::Abstract, "4000000", "self", true, 4000},
    {"WatchdogForAnotherProcess", Address::Path, "30000000", "1", true, 0},
    {"WatchdogPidMalformed", Address::Path, "30000000", "12x", true, 0},
    {"WatchdogZero", Address::Path, "0", nullptr, true, 0},
    {"WatchdogMalformed", Address::Path, "30s", nullptr, true, 0},
    {"WatchdogNegative", Address::Path, "-5", nullptr, true, 0},
    {"WatchdogTrailing", Address::Path, "30000000 ", nullptr, true, 0},
    {"WatchdogBelowAMillisecond", Address::Path, "500", nullptr, true, 1},
    // Ignored: the run goes on without a manager.
    {"NamingNothing", Address::Missing, "30000000", nullptr, false, 30000},
    {"PathTooLong", Address::TooLong, "30000000", nullptr, false, 0},
    {"RelativePath", Address::Relative, nullptr, nullptr, false, 0},
    {"BareAt", Address::BareAt, nullptr, nullptr, false, 0},
    {"Unset", Address::Unset, "30000000", nullptr, false, 0},
};

class ServiceNotifierTest : public ::testing::TestWithParam<NotifierCase> {
  protected:
    // A socket as the manager's, bound to `name` ("@..." abstract).
    void listen(const std::string& name) {
        listener_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        ASSERT_GE(listener_, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, name.data(), name.size());
        if (name[0] == '@') {
            address.sun_path[0] = '\0';
        }
        ASSERT_EQ(::bind(listener_, reinterpret_cast<const sockaddr*>(&address),
                         static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size())),
                  0)
            << std::strerror(errno);
    }
    std::vector<std::string> heard() const {
        std::vector<std::string> messages;
        char text[256];
        for (;;) {
            const ssize_t got = ::recv(listener_, text, sizeof text, MSG_DONTWAIT);
            if (got < 0) {
                return messages;
            }
            messages.emplace_back(text, static_cast<std::size_t>(got));
        }
    }
    ~ServiceNotifierTest() override {
        if (listener_ >= 0) {
            ::close(listener_);
        }
    }

    testing::TempDir dir;
    int listener_ = -1;
};

TEST_P(ServiceNotifierTest, AddressAndWatchdogAreTakenFromTheEnvironment) {
    const NotifierCase& c = GetParam();
    std::string name;
    switch (c.address) {
        case Address::Path:
            name = dir.file("notify");
            listen(name);
            break;
        case Address::Abstract:
            name = "@iqfeeder-test-" + std::to_string(::getpid());
            listen(name);
            break;
        case Address::Missing:
            name = dir.file("nobody-listens");
            break;
        case Address::TooLong:
            name = "/" + std::string(sizeof(sockaddr_un{}.sun_path), 'x');
            break;
        case Address::Relative:
            name = "notify";
            break;
        case Address::BareAt:
            name = "@";
            break;
        case Address::Unset:
            break;
    }
    const std::string ownPid = std::to_string(::getpid());
    ServiceEnvironment environment;
    environment.notifySocket = c.address == Address::Unset ? nullptr : name.c_str();
    environment.watchdogUsec = c.watchdogUsec;
    environment.watchdogPid = c.watchdogPid != nullptr && std::string(c.watchdogPid) == "self"
                                  ? ownPid.c_str()
                                  : c.watchdogPid;
    environment.ownPid = ::getpid();
    std::uint64_t watchdogMs = 12345;

    const auto notifier = serviceNotifierFor(environment, watchdogMs);

    EXPECT_EQ(watchdogMs, c.watchdogMs);
    if (c.address == Address::Missing) {
        // Nobody there to hear it, and the run goes on.
        ASSERT_NE(notifier, nullptr);
        notifier->notify("READY=1");
        notifier->stopping();
        return;
    }
    if (!c.heard) {
        EXPECT_EQ(notifier, nullptr);
        return;
    }
    ASSERT_NE(notifier, nullptr);
    notifier->notify("READY=1");
    notifier->notify("STATUS=streaming live.iq");
    notifier->notify("WATCHDOG=1");
    notifier->stopping();
    notifier->stopping();  // said once, whoever says it
    EXPECT_EQ(heard(), (std::vector<std::string>{"READY=1", "STATUS=streaming live.iq",
                                                 "WATCHDOG=1", "STOPPING=1"}));
}

INSTANTIATE_TEST_SUITE_P(Environments, ServiceNotifierTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace iqfeeder
