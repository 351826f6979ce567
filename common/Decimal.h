// Decimal numbers as the command line and the operands' options take them: digits only, no
// sign, no spaces.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <optional>
#include <string>

namespace iqfeeder {

// The number `text` spells, if it is no larger than `most`.
inline std::optional<std::uint64_t> parseDecimal(const std::string& text, std::uint64_t most) {
    if (text.empty() || text.size() > 20 || !std::all_of(text.begin(), text.end(), [](char c) {
            return std::isdigit(static_cast<unsigned char>(c)) != 0;
        })) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : text) {
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (digit > most || value > (most - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    return value;
}

}  // namespace iqfeeder
