#include "app/RunSummary.h"

#include <array>
#include <cstdio>

namespace iqfeeder {
namespace {

using RateText = std::array<char, 32>;

void formatRateInto(double bytesPerSecond, RateText& text) {
    if (bytesPerSecond >= 1e6) {
        (void)std::snprintf(text.data(), text.size(), "%.2f MB/s", bytesPerSecond / 1e6);
    } else if (bytesPerSecond >= 1e3) {
        (void)std::snprintf(text.data(), text.size(), "%.1f kB/s", bytesPerSecond / 1e3);
    } else {
        (void)std::snprintf(text.data(), text.size(), "%.0f B/s", bytesPerSecond);
    }
}

// Text appended into a fixed buffer, cut where it is full: safe in a signal handler.
class Appender {
  public:
    Appender(char* text, std::size_t size) : text_(text), size_(size) {}
    Appender& operator<<(const char* part) {
        while (*part != '\0') {
            put(*part++);
        }
        return *this;
    }
    Appender& operator<<(std::uint64_t value) {
        std::array<char, 20> digits{};
        std::size_t count = 0;
        do {
            digits[count++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value > 0);
        while (count > 0) {
            put(digits[--count]);
        }
        return *this;
    }
    // `tenths` / 10^`places` with that many decimals ("12.5" for 125 and 1 place).
    Appender& decimal(std::uint64_t scaled, int places) {
        std::uint64_t unit = 1;
        for (int i = 0; i < places; ++i) {
            unit *= 10;
        }
        *this << scaled / unit;
        if (places > 0) {
            put('.');
            std::uint64_t rest = scaled % unit;
            for (unit /= 10; unit > 0; unit /= 10) {
                put(static_cast<char>('0' + rest / unit));
                rest %= unit;
            }
        }
        return *this;
    }
    std::size_t length() const { return length_; }

  private:
    void put(char c) {
        if (length_ + 1 < size_) {
            text_[length_++] = c;
            text_[length_] = '\0';
        }
    }

    char* text_;
    std::size_t size_;
    std::size_t length_ = 0;
};

// n / d, rounded half up, for any n.
std::uint64_t rounded(std::uint64_t n, std::uint64_t d) {
    return n / d + (n % d >= d - d / 2 ? 1 : 0);
}

}  // namespace

std::string formatRate(double bytesPerSecond) {
    RateText text{};
    formatRateInto(bytesPerSecond, text);
    return text.data();
}

std::size_t formatRunSummary(char* text, std::size_t size, std::uint64_t bytesAccepted,
                             std::uint64_t failedWrites, std::uint64_t shortWrites,
                             std::uint64_t elapsedMs) {
    if (size > 0) {
        text[0] = '\0';
    }
    Appender out(text, size);
    out << "iqfeeder: " << bytesAccepted << " bytes sent to the device in ";
    out.decimal(rounded(elapsedMs, 100), 1) << " s (";
    // The rate as bytes a second, with the figures kept whole: the bytes times a thousand fit
    // 64 bits up to some 18 PB.
    const std::uint64_t ms = elapsedMs;
    if (ms == 0) {
        out << "0 B/s";
    } else if (bytesAccepted >= ms * 1000) {
        out.decimal(rounded(bytesAccepted, ms * 10), 2) << " MB/s";
    } else if (bytesAccepted >= ms) {
        out.decimal(rounded(bytesAccepted * 10, ms), 1) << " kB/s";
    } else {
        out << rounded(bytesAccepted * 1000, ms) << " B/s";
    }
    out << "), " << failedWrites << " failed writes, " << shortWrites << " short writes\n";
    return out.length();
}

std::string runSummary(const DeviceCounters& counters, std::uint64_t elapsedMs) {
    std::array<char, kRunSummaryBytes> text{};
    const std::size_t length =
        formatRunSummary(text.data(), text.size(), counters.bytesAccepted, counters.failedWrites,
                         counters.shortWrites, elapsedMs);
    return {text.data(), length};
}

}  // namespace iqfeeder
