// UTF-8 inside the program, UTF-16 at the Windows API. Lone surrogates, which Windows file names
// may hold, keep their three-byte form both ways (as WTF-8 does), so any name survives the round
// trip; bytes that are no UTF-8 at all become U+FFFD.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace iqfeeder {

#if defined(_WIN32)
using Utf16Unit = wchar_t;
#else
using Utf16Unit = char16_t;
#endif
using Utf16String = std::basic_string<Utf16Unit>;
using Utf16View = std::basic_string_view<Utf16Unit>;

Utf16String utf16FromUtf8(std::string_view text);
std::string utf8FromUtf16(Utf16View text);

// The length of the text without a sequence cut short at its end, which a later write may finish.
std::size_t completeUtf8Length(std::string_view text);

}  // namespace iqfeeder
