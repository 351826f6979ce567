// The console's stream for a log rather than a terminal (systemd's journal, a file): every line
// whole and ending in a new line, in a volume that suits months of running. The progress and
// status lines (those that end in a carriage return) go out at most once per interval; any other
// line goes out when it first comes, and the same line coming again within a minute is only
// counted, then said once with its count at the end of that minute. Each console message reaches
// the stream in one write (see Console.h), which is what lets it be taken apart into lines here.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <ostream>
#include <streambuf>
#include <string>
#include <string_view>

namespace iqfeeder {

class JournalFilter : public std::streambuf {
  public:
    using Clock = std::function<std::uint64_t()>;  // milliseconds, monotonic
    static constexpr std::uint64_t kFoldMs = 60000;

    // `progressSeconds` 0: the progress and status lines are never shown.
    JournalFilter(std::ostream& out, Clock clock, std::uint32_t progressSeconds)
        : out_(out), clock_(std::move(clock)), progressMs_(progressSeconds * 1000ULL) {}

    // Says how often each line being counted came since it was last said: at the end of a run.
    void flushFolded();

  protected:
    std::streamsize xsputn(const char* text, std::streamsize count) override;
    int_type overflow(int_type c) override;

  private:
    struct Fold {
        std::uint64_t sinceMs;  // start of the minute its repeats are counted in
        std::uint64_t count;    // repeats in that minute, not yet said
    };

    void line(std::string_view text, bool progress, std::uint64_t nowMs);
    // Says the counts of the minutes that have ended, and forgets lines that stopped coming.
    void endMinutes(std::uint64_t nowMs, bool all);
    void emit(std::string_view text);

    std::ostream& out_;
    Clock clock_;
    std::uint64_t progressMs_;
    bool progressShown_ = false;
    std::uint64_t lastProgressMs_ = 0;
    std::map<std::string, Fold, std::less<>> folds_;
    std::string pending_;  // text a message left without its line end
};

}  // namespace iqfeeder
