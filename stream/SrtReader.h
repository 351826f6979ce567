// SRT input through libsrt: srt://ADDR:PORT?mode=listener takes callers one at a time, and
// srt://HOST:PORT (mode=caller) connects to a listener, again after each end. The same steps
// and console lines as the other network inputs, with SRT's own recovery of lost packets under
// them (latency= of it), its encryption (passphrase=, pbkeylen=) and streamid=.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/Console.h"
#include "stream/NetworkNotes.h"
#include "stream/NetworkOperand.h"
#include "stream/NetworkReader.h"
#include "stream/SrtCalls.h"

namespace iqfeeder {

class SrtReader final : public NetworkReader {
  public:
    SrtReader(NetworkOperand operand, std::string text, Console& console, Console& diagnostics,
              Settings settings = {});
    ~SrtReader() override;

    bool open() override;
    ReadStatus read(std::uint8_t* buffer, std::size_t size, std::size_t& delivered,
                    const WaitHooks& hooks) override;
    void sayEnding() override;
    std::string errorText() const override { return error_; }
    NetworkFigures figures() const override { return figures_; }

  private:
    // libsrt's waits can't see a signal: the stop is asked between slices this long.
    static constexpr std::uint32_t kStopAskedEveryMs = 100;
    static constexpr std::uint32_t kIdleEveryMs = 500;
    static constexpr std::uint32_t kRetryEveryMs = 1000;
    static constexpr int kInvalid = -1;

    enum class Step { Done, Retry, Stopped, Failed };
    enum class Wait { Ready, TimedOut, Stopped, Failed };
    using Ending = SenderEnding;

    std::uint64_t now() const;
    std::uint64_t elapsedSince(std::uint64_t start) const { return now() - start; }
    std::uint64_t timeoutMs() const { return (operand_.timeoutUs + 999) / 1000; }
    // A new socket with the operand's options, which SRT takes only before it connects.
    int newSocket(bool listener);
    Wait waitFor(int socket, bool writing, const WaitHooks& hooks, std::uint64_t quietMs);
    Wait pause(const WaitHooks& hooks, std::uint32_t milliseconds);
    Step connect(const WaitHooks& hooks);
    Step accept(const WaitHooks& hooks);
    // Whether an accepted caller may send: among the sources, and with the passphrase.
    bool admit(int socket, const net::Address& from);
    void takeSender(int socket, const net::Address& from);
    void endSender(Ending how, const std::string& why);
    void noteCounts();
    void closeSocket(int& socket);

    SrtCalls srt_;
    std::string loadError_;  // why there is no libsrt to call
    NetworkOperand operand_;
    std::string text_;
    Console& console_;
    Console& diagnostics_;
    Settings settings_;
    NetworkNotes notes_;
    int epoll_ = kInvalid;
    int watched_ = kInvalid;  // the socket in the epoll set, and what it is watched for
    int watchedEvents_ = 0;
    int listener_ = kInvalid;
    int connection_ = kInvalid;
    net::Address sender_;
    std::string senderText_;
    std::uint64_t senderBytes_ = 0;
    bool announced_ = false;  // its "connected" line said
    Ending ending_ = Ending::None;
    bool saidWaiting_ = false;
    std::string lastRetryReason_;
    // A message that did not fit the end of a buffer, for the next one.
    std::vector<std::uint8_t> spill_;
    std::size_t spillOffset_ = 0;
    std::size_t spillLength_ = 0;
    // SRT's counts of senders that ended, and of the current one.
    std::uint64_t lostBefore_ = 0;
    std::uint64_t retransmittedBefore_ = 0;
    NetworkFigures figures_;
    std::string error_;
};

}  // namespace iqfeeder
