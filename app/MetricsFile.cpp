#include "app/MetricsFile.h"

#include <cstdio>

#include "common/SystemError.h"

namespace iqfeeder {

std::string MetricsFile::check(const std::string& path) {
    std::string reason = notAFileReason(path);
    if (!reason.empty()) {
        return path + " " + reason;
    }
    // Written once with nothing in it: the folder is there and takes files.
    const std::string temporary = temporaryFor(path);
    const int error = replaceFileWhole(temporary, temporary, {});
    if (error != 0) {
        return "can't write " + temporary + ": " + systemErrorText(error);
    }
    (void)std::remove(temporary.c_str());
    return "";
}

bool MetricsFile::replace(std::string_view text) {
    const int error = replaceFileWhole(temporary_, path_, text);
    if (error == 0) {
        if (failing_) {
            failing_ = false;
            diagnostics_.print("iqfeeder: the metrics file %s is written again\n", path_.c_str());
        }
        return true;
    }
    if (!failing_) {
        failing_ = true;
        diagnostics_.print(
            "iqfeeder: can't write the metrics file %s: %s; the transmission goes on, and the "
            "file is written again when it can be\n",
            path_.c_str(), systemErrorText(error).c_str());
    }
    return false;
}

}  // namespace iqfeeder
