#include "stream/InputErrors.h"

#include "common/ConsoleLines.h"

namespace iqfeeder {

void InputErrors::cannotOpen(const std::string& why) {
    console_.print(lines::kCantOpenInput, path_.c_str());
    reason(why);
}

void InputErrors::cannotRead(const std::string& why) {
    console_.print(lines::kCantReadInput, path_.c_str());
    reason(why);
}

void InputErrors::notRegularFile() {
    console_.print(lines::kNotRegularFile, path_.c_str());
}

void InputErrors::reason(const std::string& why) {
    if (why != lastReason_) {
        diagnostics_.print("iqfeeder: %s: %s\n", path_.c_str(), why.c_str());
        lastReason_ = why;
    }
}

}  // namespace iqfeeder
