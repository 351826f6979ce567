#include "common/JournalFilter.h"

#include <string>

namespace iqfeeder {
namespace {

// Lines that keep changing would otherwise pile up here: beyond this many, all are said at once.
constexpr std::size_t kMostFolds = 64;

}  // namespace

std::streamsize JournalFilter::xsputn(const char* text, std::streamsize count) {
    const std::uint64_t nowMs = clock_();
    endMinutes(nowMs, false);
    std::string_view rest(text, static_cast<std::size_t>(count));
    for (;;) {
        const std::size_t end = rest.find_first_of("\r\n");
        if (end == std::string_view::npos) {
            pending_.append(rest);
            break;
        }
        pending_.append(rest.substr(0, end));
        // Empty lines only spaced out the terminal's screen.
        if (!pending_.empty()) {
            line(pending_, rest[end] == '\r', nowMs);
        }
        pending_.clear();
        rest.remove_prefix(end + 1);
    }
    return count;
}

JournalFilter::int_type JournalFilter::overflow(int_type c) {
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
        const char one = traits_type::to_char_type(c);
        xsputn(&one, 1);
    }
    return traits_type::not_eof(c);
}

void JournalFilter::line(std::string_view text, bool progress, std::uint64_t nowMs) {
    if (progress) {
        if (progressMs_ == 0 || (progressShown_ && nowMs - lastProgressMs_ < progressMs_)) {
            return;
        }
        progressShown_ = true;
        lastProgressMs_ = nowMs;
        emit(text);
        return;
    }
    if (const auto found = folds_.find(text); found != folds_.end()) {
        ++found->second.count;
        return;
    }
    if (folds_.size() >= kMostFolds) {
        endMinutes(nowMs, true);
    }
    folds_.emplace(std::string(text), Fold{nowMs, 0});
    emit(text);
}

void JournalFilter::endMinutes(std::uint64_t nowMs, bool all) {
    for (auto it = folds_.begin(); it != folds_.end();) {
        Fold& fold = it->second;
        if (!all && nowMs - fold.sinceMs < kFoldMs) {
            ++it;
            continue;
        }
        if (fold.count == 0) {
            it = folds_.erase(it);
            continue;
        }
        // The journal's time stamps say when; the count says how often since it was last said.
        const std::string said = it->first + " (" + std::to_string(fold.count) +
                                 (fold.count == 1 ? " more time)" : " more times)");
        emit(said);
        // Still coming: its next minute is counted the same way.
        fold = Fold{nowMs, 0};
        ++it;
    }
    if (all) {
        folds_.clear();
    }
}

void JournalFilter::flushFolded() {
    endMinutes(clock_(), true);
    if (!pending_.empty()) {
        emit(pending_);
        pending_.clear();
    }
}

void JournalFilter::emit(std::string_view text) {
    std::string whole(text);
    whole.push_back('\n');
    out_.write(whole.data(), static_cast<std::streamsize>(whole.size()));
    out_.flush();
}

}  // namespace iqfeeder
