// The types, status codes and listing flags of the FTDI D2XX driver API this program uses,
// declared from the maker's public documentation. The status codes are also what every driver
// of the table reports in.
#pragma once

#include <cstdint>

namespace iqfeeder {

// D2XX types are 32-bit on every platform; `unsigned long` would be 64-bit on LP64 systems.
using FT_STATUS = std::uint32_t;
using DWORD = std::uint32_t;
using FT_HANDLE = void*;

inline constexpr FT_STATUS FT_OK = 0;
inline constexpr FT_STATUS FT_INVALID_HANDLE = 1;
inline constexpr FT_STATUS FT_DEVICE_NOT_FOUND = 2;
inline constexpr FT_STATUS FT_DEVICE_NOT_OPENED = 3;
inline constexpr FT_STATUS FT_IO_ERROR = 4;
inline constexpr FT_STATUS FT_OTHER_ERROR = 18;

inline constexpr DWORD FT_LIST_NUMBER_ONLY = 0x80000000U;
inline constexpr DWORD FT_LIST_BY_INDEX = 0x40000000U;
inline constexpr DWORD FT_LIST_ALL = 0x20000000U;
inline constexpr DWORD FT_OPEN_BY_SERIAL_NUMBER = 1U;
inline constexpr DWORD FT_OPEN_BY_DESCRIPTION = 2U;

// Each description or serial number the library fills in gets 64 bytes, in FT_LIST_ALL mode as
// in FT_LIST_BY_INDEX mode (where the first argument is the device index, cast to a pointer).
inline constexpr std::uint32_t kDescriptionBytes = 64;

}  // namespace iqfeeder
