// What a network input says on standard error beside its console lines, each at most once per
// episode so that a stranger or a lossy link can't flood the log: an address refused (not among
// sources=), another sender's datagrams dropped while one holds the stream, and loss. Every line
// names a host without its port, so that the log's folding takes repeats from one host together.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/Console.h"
#include "stream/NetworkSocket.h"

namespace iqfeeder {

// A 32-bit running total that wraps, kept as the 64-bit count it stands for.
class WrappingCount {
  public:
    void see(std::uint32_t raw) {
        total_ += static_cast<std::uint32_t>(raw - last_);
        last_ = raw;
    }
    std::uint64_t total() const { return total_; }
    std::uint32_t last() const { return last_; }

  private:
    std::uint32_t last_ = 0;  // a new socket counts from 0
    std::uint64_t total_ = 0;
};

// How a sender's turn ended, said after its last progress line.
enum class SenderEnding { None, Ended, Lost };

class NetworkNotes {
  public:
    // Hosts named in one episode at most; more start it over.
    static constexpr std::size_t kMostNamed = 64;

    NetworkNotes(Console& diagnostics, std::string text)
        : diagnostics_(diagnostics), text_(std::move(text)) {}

    // `what`: "datagrams", "a connection".
    void refused(const net::Address& from, const char* what);
    // An SRT caller whose encryption does not match ours: a wrong passphrase, or none.
    void wrongPassphrase(const net::Address& from, bool weHaveNone);
    void otherSender(const net::Address& from, const std::string& holder);
    // A sender took the stream: the hosts named so far may be named again.
    void newTurn() { named_.clear(); }
    // At the end of a pass, with the count of datagrams lost so far: loss is said when an episode
    // starts, and the episode ends with a pass that lost nothing.
    void lossStands(std::uint64_t lost, const char* advice);
    // A sender that ended without a byte (a port scan, a client that gives up at once): by
    // host, so that a stream of them folds into a few lines of the log.
    void emptySender(const net::Address& from);
    // A sender's end on the console: ended or lost with its byte count, or, when it sent
    // nothing (`announced` false), only as an empty sender here.
    void sayEnding(Console& console, SenderEnding ending, bool announced, const net::Address& from,
                   const std::string& sender, std::uint64_t bytes);
    // The sender's time-out, when the run says its events.
    void silent(const std::string& sender, std::uint64_t timeoutUs);

  private:
    bool firstOfEpisode(const net::Address& from, char kind);

    Console& diagnostics_;
    std::string text_;
    std::vector<std::pair<char, net::Address>> named_;
    std::uint64_t lastLost_ = 0;
    bool losing_ = false;
};

}  // namespace iqfeeder
