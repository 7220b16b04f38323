// Reads single registry values and hands them back typed by their registry type.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "platform/winapi.h"

namespace modRegistryAccess {

using ByteString = std::vector<std::uint8_t>;

// Empty, text, 32-bit integer or byte string; a fresh value is empty.
using RegistryValue = std::variant<std::monostate, std::wstring, std::int32_t, ByteString>;

// Status of QueryRegValue when the value's type is not one we read (this
// includes a missing key or value, which report no type at all).
constexpr LONG kUnsupportedType = -1;

// Opens root\subKey for reading, reads valueName, closes the key. Every
// failure gives an empty value.
RegistryValue ReadRegValue(HKEY root, const std::wstring &subKey, const std::wstring &valueName);

// Typed read of valueName on an open key. Returns 0, the platform's error
// code of the last read, or kUnsupportedType; `type` receives the type the
// size probe reported (0 when none).
LONG QueryRegValue(HKEY key, const std::wstring &valueName, RegistryValue &value, DWORD &type);

}  // namespace modRegistryAccess
