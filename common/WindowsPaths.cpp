#include "common/WindowsPaths.h"

#include <algorithm>
#include <array>

namespace iqfeeder {
namespace {

bool isSeparator(char c) {
    return c == '\\' || c == '/';
}

char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool equalsIgnoringCase(std::string_view text, std::string_view upperCase) {
    if (text.size() != upperCase.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (upper(text[i]) != upperCase[i]) {
            return false;
        }
    }
    return true;
}

// `text` starts with the component `name` (any case), ended by a separator or by the text.
bool startsWithComponent(std::string_view text, std::string_view upperCaseName) {
    return equalsIgnoringCase(text.substr(0, upperCaseName.size()), upperCaseName) &&
           (text.size() == upperCaseName.size() || isSeparator(text[upperCaseName.size()]));
}

bool isDriveLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool isReservedName(std::string_view name) {
    constexpr std::array<std::string_view, 6> kNames{"CON", "PRN",    "AUX",
                                                     "NUL", "CONIN$", "CONOUT$"};
    if (std::any_of(kNames.begin(), kNames.end(), [&](std::string_view reserved) {
            return equalsIgnoringCase(name, reserved);
        })) {
        return true;
    }
    if (name.size() < 4 || !(equalsIgnoringCase(name.substr(0, 3), "COM") ||
                             equalsIgnoringCase(name.substr(0, 3), "LPT"))) {
        return false;
    }
    const std::string_view number = name.substr(3);
    // Superscript one, two and three, in UTF-8.
    return (number.size() == 1 && number[0] >= '0' && number[0] <= '9') || number == "\xC2\xB9" ||
           number == "\xC2\xB2" || number == "\xC2\xB3";
}

// After \\?\ or \??\: what the file namespace holds. Anything else there (GLOBALROOT, COM1, a
// bare volume such as C:, PhysicalDrive0) is a device.
bool isFileNamespacePath(std::string_view rest) {
    if (rest.size() >= 3 && isDriveLetter(rest[0]) && rest[1] == ':' && isSeparator(rest[2])) {
        return true;
    }
    if (startsWithComponent(rest, "UNC")) {
        return rest.size() > 4;
    }
    if (equalsIgnoringCase(rest.substr(0, 7), "VOLUME{")) {
        const std::size_t end = rest.find('}');
        return end != std::string_view::npos && end + 1 < rest.size() && isSeparator(rest[end + 1]);
    }
    return startsWithComponent(rest, "PIPE");
}

}  // namespace

bool isWindowsDeviceName(std::string_view utf8Path) {
    const std::string_view path = utf8Path;
    if (path.size() >= 4 && isSeparator(path[0]) && isSeparator(path[1]) &&
        (path[2] == '.' || path[2] == '?') && isSeparator(path[3])) {
        const std::string_view rest = path.substr(4);
        // Only \\?\ spelt with backslashes skips Windows' own reading of the path; the other
        // spellings (\\.\ and //?/) are read like any path, into the device namespace.
        if (path.starts_with("\\\\?\\")) {
            return !isFileNamespacePath(rest);
        }
        return !startsWithComponent(rest, "PIPE");
    }
    if (path.starts_with("\\??\\")) {
        return !isFileNamespacePath(path.substr(4));
    }
    // The last component, after a folder or a drive ("C:NUL" is NUL too).
    std::size_t start = path.find_last_of("\\/");
    start = start == std::string_view::npos ? 0 : start + 1;
    if (start == 0 && path.size() >= 2 && isDriveLetter(path[0]) && path[1] == ':') {
        start = 2;
    }
    std::string_view name = path.substr(start);
    // Windows drops trailing dots and spaces, then takes the name before any extension or stream,
    // without the spaces in front of it.
    while (!name.empty() && (name.back() == '.' || name.back() == ' ')) {
        name.remove_suffix(1);
    }
    name = name.substr(0, name.find_first_of(".:"));
    while (!name.empty() && name.back() == ' ') {
        name.remove_suffix(1);
    }
    return isReservedName(name);
}

Utf16String extendedLengthPath(Utf16View fullPath) {
    const auto separatorAt = [&](std::size_t i) {
        return i < fullPath.size() && (fullPath[i] == '\\' || fullPath[i] == '/');
    };
    if (separatorAt(0) && separatorAt(1) && fullPath.size() >= 4 &&
        (fullPath[2] == '?' || fullPath[2] == '.') && separatorAt(3)) {
        return Utf16String(fullPath);
    }
    // \\server\share\... becomes \\?\UNC\server\share\..., C:\... becomes \\?\C:\...
    const bool unc = separatorAt(0) && separatorAt(1);
    const std::string_view prefix = unc ? "\\\\?\\UNC" : "\\\\?\\";
    Utf16String out(prefix.begin(), prefix.end());
    out.append(fullPath.substr(unc ? 1 : 0));
    // A \\?\ path is taken literally: only backslashes separate there.
    std::replace(out.begin(), out.end(), static_cast<Utf16Unit>('/'), static_cast<Utf16Unit>('\\'));
    return out;
}

}  // namespace iqfeeder
