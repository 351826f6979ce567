// The few operating-system services the entry needs, one small file per platform.
#pragma once

namespace iqfeeder {

// Before anything else: standard input, output and error that were closed are opened on the
// null device, so no file opened later (the driver's own log, say) can take their place; and a
// console reader that goes away (SIGPIPE) can't end the run.
void prepareStandardStreams();
bool standardOutputIsTerminal();
// Standard output and standard error are the same terminal screen.
bool standardStreamsShareATerminal();

}  // namespace iqfeeder
