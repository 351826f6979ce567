// The command line: `iqfeeder [OPTIONS] FILE`. Options come only before FILE, as POSIX
// utilities read them; whatever follows FILE is ignored.
#pragma once

#include <string>
#include <vector>

#include "app/RunOptions.h"
#include "device/DriverChoice.h"

namespace iqfeeder {

struct CommandLine {
    enum class Action { Run, List, Help, Version, UsageError };

    Action action = Action::Run;
    std::string error;  // why the command line was refused (empty when nothing was given)
    RunOptions run;
    DriverChoice driver = DriverChoice::Automatic;
};

// `args` as main gets them, the program's name first.
CommandLine parseCommandLine(const std::vector<std::string>& args, bool haveLibFtdi);

// Standard output for --help and --version, and standard error for a refused command line.
std::string helpText();
std::string versionText();
const char* versionNumber();
std::string usageErrorText(const CommandLine& commandLine);

}  // namespace iqfeeder
