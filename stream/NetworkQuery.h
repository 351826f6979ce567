// The query of a network operand (?name=value&...): the options each scheme takes, each once,
// spelt as ffmpeg spells them.
#pragma once

#include <string>

#include "stream/NetworkOperand.h"

namespace iqfeeder {

// Reads `query` (what follows the '?' of `operand`) into `result`; false at the first option
// that is malformed or not one the scheme takes, with `error` naming it.
bool readNetworkQuery(const std::string& operand, const std::string& query, NetworkOperand& result,
                      std::string& error);

}  // namespace iqfeeder
