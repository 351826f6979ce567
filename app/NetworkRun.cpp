// The run of a network input: StreamRunner's loop for it, apart so the other inputs' loops stay
// as they are. Like a stream's, but a sender that ends is followed by the next one.
#include <cstring>
#include <memory>

#include "app/StreamRunner.h"
#include "stream/NetworkInput.h"

namespace iqfeeder {

int StreamRunner::runNetwork(const NetworkOperand& operand) {
    NetworkInput input(operand, state_.inputPath, console_, diagnostics_);
    if (!input.open()) {
        device_.closeDevice();
        return 1;
    }
    const auto noteFigures = [this, &input] {
        if (statistics_) {
            statistics_->noteNetwork(input.figures());
        }
        updateStatistics(nullptr);
    };
    const NetworkInput::WaitHooks hooks{[this] { return stopping(); }, noteFigures};
    const std::uint32_t bufferSize = state_.bufferSize;
    const auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(bufferSize);
    std::int64_t total = 0;
    while (!stopping()) {
        // Not read while the device is gone: a TCP sender waits on the full socket.
        if (device_.lost()) {
            waitForDevice();
            continue;
        }
        std::size_t delivered = 0;
        const NetworkInput::ReadStatus status =
            input.read(buffer.get(), bufferSize, delivered, hooks);
        if (status == NetworkInput::ReadStatus::Stopped) {
            break;
        }
        if (delivered > 0) {
            total += static_cast<std::int64_t>(delivered);
            console_.print("Using network input, Read %lldKB\r",
                           static_cast<long long>(total / 1000));
            // A sender's last, partly filled buffer goes out padded with zeros.
            std::memset(buffer.get() + delivered, 0, bufferSize - delivered);
            while (send(buffer.get(), bufferSize).lost && !stopping()) {
                waitForDevice();
            }
            input.sayEnding();
            noteFigures();
        }
        if (status == NetworkInput::ReadStatus::Failed) {
            console_.print("Error reading %s!\n", state_.inputPath.c_str());
            diagnostics_.print("iqfeeder: %s: %s\n", state_.inputPath.c_str(),
                               input.errorText().c_str());
            device_.closeDevice();
            return 1;
        }
    }
    device_.closeDevice();
    return 0;
}

}  // namespace iqfeeder
