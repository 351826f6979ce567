// A network input read as a stream is: whole buffers, each sender's bytes in order, the device
// setting the pace (a TCP sender waits on a full socket). One sender at a time; when one ends,
// the next is taken: a client connects again, a listener accepts the next in its backlog, and
// UDP takes whoever sends next once the sender it has fell silent. Nothing of two senders is
// ever mixed in one buffer, and hosts not among sources= never reach it. The input's own
// console lines say each of these steps.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/Console.h"
#include "stream/InputKind.h"
#include "stream/NetworkNotes.h"
#include "stream/NetworkOperand.h"
#include "stream/NetworkReader.h"
#include "stream/NetworkSocket.h"

namespace iqfeeder {

class SocketReader final : public NetworkReader {
  public:
    // A connection refused or failed is tried again this often.
    static constexpr std::uint32_t kRetryEveryMs = 1000;
    // Asked of the kernel for datagrams unless buffer_size= says: a second at 4 MB/s.
    static constexpr int kReceiveBufferBytes = 4 * 1024 * 1024;

    SocketReader(NetworkOperand operand, std::string text, Console& console, Console& diagnostics,
                 Settings settings = {});

    bool open() override;
    ReadStatus read(std::uint8_t* buffer, std::size_t size, std::size_t& delivered,
                    const WaitHooks& hooks) override;
    void sayEnding() override;
    std::string errorText() const override { return error_; }
    NetworkFigures figures() const override { return figures_; }

  private:
    // Room for the largest datagram there is.
    static constexpr std::size_t kLargestDatagram = 65536;
    // The waits are cut into slices this long, so the rates and a service manager's watchdog
    // hear from the run at least once a second while nothing comes.
    static constexpr std::uint32_t kIdleEveryMs = 500;

    enum class Step { Done, Retry, Stopped, Failed };
    using Ending = SenderEnding;

    std::uint64_t now() const;
    std::uint64_t elapsedSince(std::uint64_t start) const { return now() - start; }
    std::uint64_t timeoutMs() const { return (operand_.timeoutUs + 999) / 1000; }
    // `announce`: said now, else with its first bytes.
    void takeSender(const net::Address& from, bool announce);
    void announceSender();
    void endSender(Ending how, int error);
    Step connect(const WaitHooks& hooks);
    Step connectTo(const net::Address& address, const WaitHooks& hooks, int& error);
    Step lookUp(std::vector<net::Address>& addresses, std::string& why, const WaitHooks& hooks);
    Step accept(const WaitHooks& hooks);
    // Until the socket is ready; `idle` once a second. TimedOut only when `quietMs` has passed.
    net::Socket::Wait waitFor(const net::Socket& socket, bool writing, const WaitHooks& hooks,
                              std::uint64_t quietMs);
    ReadStatus readStream(std::uint8_t* buffer, std::size_t size, std::size_t& delivered,
                          const WaitHooks& hooks);
    ReadStatus readDatagrams(std::uint8_t* buffer, std::size_t size, std::size_t& delivered,
                             const WaitHooks& hooks);
    // Whether a datagram from `from` is the sender's (a first one takes the stream); a
    // stranger's or another sender's is counted and named.
    bool fromSender(const net::Address& from);
    // As many datagrams as are waiting and fit, in one call, each straight into its place in
    // the buffer when they are of the size the sender sends.
    void receiveDatagrams(std::uint8_t* buffer, std::size_t size, std::size_t& delivered,
                          bool& none, int& error);
    // Bytes that are the next buffer's, after what fits this one.
    void carry(const std::uint8_t* bytes, std::size_t count);
    // With the socket empty and the buffer not yet whole: how long to let datagrams gather
    // before reading on, rather than waking for each one.
    std::uint64_t gatherMs(std::size_t room) const;
    // A whole buffer in: the rate the buffers fill at, for how long to let the next gather.
    void noteFull(std::size_t size);
    // One datagram into the buffer: true when it was the sender's, false when it was dropped
    // or none was waiting.
    bool receiveDatagram(std::uint8_t* buffer, std::size_t room, std::size_t& delivered, bool& none,
                         int& error);
    void noteDrops();
    void cannotConnect(int error, const std::string& why);

    NetworkOperand operand_;
    std::string text_;
    Console& console_;
    Console& diagnostics_;
    Settings settings_;
    NetworkNotes notes_;
    [[maybe_unused]] net::Networking networking_;  // does something on Windows only
    net::Socket listener_;                         // a listener's, or UDP's
    net::Socket connection_;
    bool haveSender_ = false;
    net::Address sender_;
    std::string senderText_;
    std::uint64_t senderBytes_ = 0;
    bool announced_ = false;  // its "connected" line said
    std::uint64_t lastHeardMs_ = 0;
    Ending ending_ = Ending::None;
    bool saidWaiting_ = false;
    std::string lastRetryReason_;  // said once, not at every retry
    // What a full buffer left of the last datagram, for the next one: received straight into
    // the buffer, with only what did not fit landing here.
    std::vector<std::uint8_t> spill_;
    std::size_t spillOffset_ = 0;
    std::size_t spillLength_ = 0;
    WrappingCount dropped_;
    // The batch: up to this many datagrams a call, in slots of the sender's datagram size.
    static constexpr std::size_t kBatch = 32;
    std::size_t slot_ = 0;
    std::unique_ptr<std::uint8_t[]> batchSpill_;  // untouched unless a datagram outgrows its slot
    std::array<net::Address, kBatch> batchFrom_{};
    std::array<std::size_t, kBatch> batchLengths_{};
    std::vector<std::uint8_t> later_;  // the batch's rest, moved aside for an outgrown slot
    double bytesPerMs_ = 0;            // the sender's rate, as the last buffers filled
    std::uint64_t lastFullMs_ = 0;
    NetworkFigures figures_;
    std::string error_;
    std::optional<net::WaitScope> scope_;  // from a read's first wait to its end
};

}  // namespace iqfeeder
