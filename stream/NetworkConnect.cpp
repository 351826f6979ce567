// The TCP side of taking a sender: a client's connect (its name looked up beside the loop, each
// address bounded by the time-out) and a listener's accept (strangers closed unread).
#include "common/ConsoleLines.h"
#include "common/SystemError.h"
#include "stream/SocketReader.h"

namespace iqfeeder {

void SocketReader::cannotConnect(int error, const std::string& why) {
    if (why == lastRetryReason_) {
        return;
    }
    lastRetryReason_ = why;
    if (net::isRefusal(error)) {
        console_.print(lines::kConnectionRefused, text_.c_str());
        return;
    }
    console_.print(lines::kCannotConnect, text_.c_str());
    diagnostics_.print("iqfeeder: %s: %s\n", text_.c_str(), why.c_str());
}

SocketReader::Step SocketReader::lookUp(std::vector<net::Address>& addresses, std::string& why,
                                        const WaitHooks& hooks) {
    net::Lookup lookup(operand_.host, operand_.port, false);
    while (!lookup.wait(kIdleEveryMs)) {
        if (hooks.stopping && hooks.stopping()) {
            return Step::Stopped;
        }
        if (hooks.idle) {
            hooks.idle();
        }
    }
    addresses = lookup.addresses(why);
    return Step::Done;
}

SocketReader::Step SocketReader::connectTo(const net::Address& address, const WaitHooks& hooks,
                                           int& error) {
    net::Socket socket;
    if (!socket.open(address, false, error) || !socket.startConnect(address, error)) {
        return Step::Retry;
    }
    // Each address gets the time-out, so one that drops what is sent to it can't hold up the
    // next for TCP's two minutes.
    const net::Socket::Wait waited = waitFor(socket, true, hooks, timeoutMs());
    if (waited == net::Socket::Wait::Stopped) {
        return Step::Stopped;
    }
    if (waited == net::Socket::Wait::TimedOut) {
        error = 0;
        return Step::Retry;
    }
    error = waited == net::Socket::Wait::Ready ? socket.connectResult() : error;
    if (waited != net::Socket::Wait::Ready || error != 0) {
        return Step::Retry;
    }
    connection_ = std::move(socket);
    sender_ = address;
    return Step::Done;
}

SocketReader::Step SocketReader::connect(const WaitHooks& hooks) {
    if (!saidWaiting_) {
        console_.print(lines::kConnecting, text_.c_str());
        saidWaiting_ = true;
    }
    std::string why;
    std::vector<net::Address> addresses;
    if (lookUp(addresses, why, hooks) == Step::Stopped) {
        return Step::Stopped;
    }
    int error = 0;
    bool timedOut = false;
    for (const net::Address& address : addresses) {
        const Step step = connectTo(address, hooks, error);
        if (step != Step::Retry) {
            return step;
        }
        timedOut = timedOut || error == 0;
    }
    if (!addresses.empty()) {
        why = error == 0 && timedOut ? "no answer within timeout=" : systemErrorText(error);
    }
    cannotConnect(error, why);
    return Step::Retry;
}

SocketReader::Step SocketReader::accept(const WaitHooks& hooks) {
    if (!saidWaiting_) {
        console_.print(lines::kWaitingForSender, text_.c_str());
        saidWaiting_ = true;
    }
    for (;;) {
        switch (waitFor(listener_, false, hooks, 0)) {
            case net::Socket::Wait::Stopped:
                return Step::Stopped;
            case net::Socket::Wait::Failed:
                return Step::Failed;
            default:
                break;
        }
        int error = 0;
        net::Socket taken = listener_.accept(sender_, error);
        if (taken.valid() && !operand_.sources.empty() &&
            !net::isAmong(sender_, operand_.sources)) {
            // Closed before anything of it is read.
            ++figures_.refused;
            notes_.refused(sender_, "a connection");
            continue;
        }
        if (taken.valid()) {
            connection_ = std::move(taken);
            return Step::Done;
        }
        if (error != 0) {
            // Out of descriptors, say: the sender waits in the backlog while we pause.
            diagnostics_.print("iqfeeder: %s: %s\n", text_.c_str(), systemErrorText(error).c_str());
            return Step::Retry;
        }
    }
}

}  // namespace iqfeeder
