// The metrics file on disk, replaced whole each time: the text goes to a temporary file beside
// it, which is then renamed over it, so a reader (node_exporter's textfile collector, cat) sees
// the old file or the new one, never part of one. A file that can't be written costs only the
// metrics: it is said once on standard error, and the next write tries again.
#pragma once

#include <string>
#include <string_view>

#include "common/Console.h"

namespace iqfeeder {

class MetricsFile {
  public:
    // Why `path` can't be the metrics file (it is a directory or a device, its folder is not
    // there or can't be written), or "" when it can. Tries the temporary file.
    static std::string check(const std::string& path);

    MetricsFile(std::string path, Console& diagnostics)
        : path_(std::move(path)), temporary_(temporaryFor(path_)), diagnostics_(diagnostics) {}

    // Returns whether the file now holds `text`.
    bool replace(std::string_view text);

    const std::string& path() const { return path_; }

  private:
    static std::string temporaryFor(const std::string& path) { return path + ".tmp"; }

    std::string path_;
    std::string temporary_;
    Console& diagnostics_;
    bool failing_ = false;
};

// The platform's part: writes `text` to `temporary` and renames it over `path`. Returns 0, or
// the system's error code for what failed (the temporary file is then removed).
int replaceFileWhole(const std::string& temporary, const std::string& path, std::string_view text);
// Why `path` names no file that can be replaced ("is a directory", "is not a regular file"), or
// "" when it names one or nothing yet.
std::string notAFileReason(const std::string& path);

}  // namespace iqfeeder
