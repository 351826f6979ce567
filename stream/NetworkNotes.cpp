#include "stream/NetworkNotes.h"

#include <algorithm>

#include "common/ConsoleLines.h"

namespace iqfeeder {

bool NetworkNotes::firstOfEpisode(const net::Address& from, char kind) {
    if (std::any_of(named_.begin(), named_.end(), [&](const auto& entry) {
            return entry.first == kind && net::sameHost(entry.second, from);
        })) {
        return false;
    }
    if (named_.size() >= kMostNamed) {
        named_.clear();
    }
    named_.emplace_back(kind, from);
    return true;
}

void NetworkNotes::refused(const net::Address& from, const char* what) {
    if (firstOfEpisode(from, 'r')) {
        diagnostics_.print("iqfeeder: %s: %s from %s refused: not among sources=\n", text_.c_str(),
                           what, net::hostText(from).c_str());
    }
}

void NetworkNotes::wrongPassphrase(const net::Address& from, bool weHaveNone) {
    if (firstOfEpisode(from, 'p')) {
        diagnostics_.print(
            "iqfeeder: %s: a connection from %s refused: %s\n", text_.c_str(),
            net::hostText(from).c_str(),
            weHaveNone ? "it encrypts, and no passphrase= is given" : "wrong passphrase, or none");
    }
}

void NetworkNotes::otherSender(const net::Address& from, const std::string& holder) {
    if (firstOfEpisode(from, 'o')) {
        diagnostics_.print("iqfeeder: %s: datagrams from %s dropped: sender %s holds the stream\n",
                           text_.c_str(), net::hostText(from).c_str(), holder.c_str());
    }
}

void NetworkNotes::lossStands(std::uint64_t lost, const char* advice) {
    if (lost == lastLost_) {
        losing_ = false;
        return;
    }
    if (!losing_) {
        diagnostics_.print("iqfeeder: %s: %llu datagrams lost in all so far: %s\n", text_.c_str(),
                           static_cast<unsigned long long>(lost), advice);
    }
    losing_ = true;
    lastLost_ = lost;
}

void NetworkNotes::emptySender(const net::Address& from) {
    diagnostics_.print("iqfeeder: %s: a sender from %s ended without sending anything\n",
                       text_.c_str(), net::hostText(from).c_str());
}

void NetworkNotes::silent(const std::string& sender, std::uint64_t timeoutUs) {
    diagnostics_.print("iqfeeder: %s: sender %s silent for %g s, ended\n", text_.c_str(),
                       sender.c_str(), static_cast<double>(timeoutUs) / 1e6);
}

void NetworkNotes::sayEnding(Console& console, SenderEnding ending, bool announced,
                             const net::Address& from, const std::string& sender,
                             std::uint64_t bytes) {
    if (ending != SenderEnding::None && !announced) {
        emptySender(from);
    } else if (ending == SenderEnding::Ended) {
        console.print(lines::kSenderEnded, sender.c_str(), static_cast<unsigned long long>(bytes));
    } else if (ending == SenderEnding::Lost) {
        console.print(lines::kSenderLost, sender.c_str(), static_cast<unsigned long long>(bytes));
    }
}

}  // namespace iqfeeder
