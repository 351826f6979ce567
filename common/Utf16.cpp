#include "common/Utf16.h"

#include <cstdint>

namespace iqfeeder {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Bytes in the sequence a lead byte starts, or 0 for a byte that can't start one.
std::size_t sequenceLength(unsigned char lead) {
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        return 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        return 4;
    }
    return 0;
}

// Decodes the sequence at `at`, moving past it; a malformed one yields U+FFFD and one byte.
char32_t decode(std::string_view text, std::size_t& at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = sequenceLength(lead);
    if (length == 1) {
        ++at;
        return lead;
    }
    if (length == 0 || at + length > text.size()) {
        ++at;
        return kReplacement;
    }
    char32_t point = lead & (0x7FU >> length);
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0U) != 0x80U) {
            ++at;
            return kReplacement;
        }
        point = (point << 6U) | (next & 0x3FU);
    }
    // Overlong forms and points past U+10FFFF are malformed; surrogates are let through.
    constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (point < kSmallest[length] || point > 0x10FFFF) {
        ++at;
        return kReplacement;
    }
    at += length;
    return point;
}

void encode(char32_t point, std::string& out) {
    if (point < 0x80) {
        out.push_back(static_cast<char>(point));
    } else if (point < 0x800) {
        out.push_back(static_cast<char>(0xC0U | (point >> 6U)));
        out.push_back(static_cast<char>(0x80U | (point & 0x3FU)));
    } else if (point < 0x10000) {
        out.push_back(static_cast<char>(0xE0U | (point >> 12U)));
        out.push_back(static_cast<char>(0x80U | ((point >> 6U) & 0x3FU)));
        out.push_back(static_cast<char>(0x80U | (point & 0x3FU)));
    } else {
        out.push_back(static_cast<char>(0xF0U | (point >> 18U)));
        out.push_back(static_cast<char>(0x80U | ((point >> 12U) & 0x3FU)));
        out.push_back(static_cast<char>(0x80U | ((point >> 6U) & 0x3FU)));
        out.push_back(static_cast<char>(0x80U | (point & 0x3FU)));
    }
}

bool isHighSurrogate(char32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool isLowSurrogate(char32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

}  // namespace

Utf16String utf16FromUtf8(std::string_view text) {
    Utf16String out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const char32_t point = decode(text, at);
        if (point < 0x10000) {
            out.push_back(static_cast<Utf16Unit>(point));
        } else {
            out.push_back(static_cast<Utf16Unit>(0xD800 + ((point - 0x10000) >> 10U)));
            out.push_back(static_cast<Utf16Unit>(0xDC00 + ((point - 0x10000) & 0x3FFU)));
        }
    }
    return out;
}

std::string utf8FromUtf16(Utf16View text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size(); ++at) {
        const auto unit = static_cast<char32_t>(static_cast<std::uint16_t>(text[at]));
        if (isHighSurrogate(unit) && at + 1 < text.size()) {
            const auto next = static_cast<char32_t>(static_cast<std::uint16_t>(text[at + 1]));
            if (isLowSurrogate(next)) {
                encode(0x10000 + ((unit - 0xD800) << 10U) + (next - 0xDC00), out);
                ++at;
                continue;
            }
        }
        encode(unit, out);
    }
    return out;
}

std::size_t completeUtf8Length(std::string_view text) {
    // A cut sequence is its lead byte and up to two continuation bytes at the very end.
    for (std::size_t back = 1; back <= 3 && back <= text.size(); ++back) {
        const auto byte = static_cast<unsigned char>(text[text.size() - back]);
        if ((byte & 0xC0U) != 0x80U) {
            const std::size_t length = sequenceLength(byte);
            return length > back ? text.size() - back : text.size();
        }
    }
    return text.size();
}

}  // namespace iqfeeder
