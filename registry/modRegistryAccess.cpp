#include "registry/modRegistryAccess.h"

#include <algorithm>
#include <new>

#include "platform/ansi.h"

namespace modRegistryAccess {
namespace {

// Integer values are read into exactly this many bytes.
constexpr DWORD kIntegerSize = sizeof(std::int32_t);

LONG Read(HKEY key, const std::string &name, DWORD type, BYTE *data, DWORD &size) {
  return RegQueryValueExA(key, name.c_str(), nullptr, &type, data, &size);
}

// REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ: the bytes read, less the closing
// zero, as text. References are not expanded; a multi-string keeps the zero
// after each of its strings.
LONG ReadText(HKEY key, const std::string &name, DWORD type, DWORD size, RegistryValue &value) {
  std::vector<char> buffer(size, '\0');
  const LONG status = Read(key, name, type, reinterpret_cast<BYTE *>(buffer.data()), size);
  if (status != ERROR_SUCCESS) {
    value = std::monostate();
    return status;
  }
  const std::size_t written = std::min<std::size_t>(size, buffer.size());
  // A value stored with no bytes has no terminator to drop: leave it as it was.
  if (written == 0) return status;
  // Drop the terminator by bytes, not characters, so that no stray zero
  // character is left behind in a double-byte code page.
  value = ansi::ToText(buffer.data(), written - 1);
  return status;
}

// REG_DWORD and REG_DWORD_BIG_ENDIAN: the stored bytes as they are. A value
// stored with more than 4 bytes does not fit and is refused by the read.
LONG ReadInteger(HKEY key, const std::string &name, DWORD type, DWORD size, RegistryValue &value) {
  std::int32_t number = 0;
  DWORD readSize = std::min(size, kIntegerSize);
  const LONG status = Read(key, name, type, reinterpret_cast<BYTE *>(&number), readSize);
  if (status == ERROR_SUCCESS) value = number;
  return status;
}

// REG_BINARY: the stored bytes.
LONG ReadBytes(HKEY key, const std::string &name, DWORD type, DWORD size, RegistryValue &value) {
  ByteString buffer(size, 0);
  const LONG status = Read(key, name, type, buffer.data(), size);
  if (status != ERROR_SUCCESS) {
    value = std::monostate();
    return status;
  }
  buffer.resize(std::min<std::size_t>(size, buffer.size()));
  value = std::move(buffer);
  return status;
}

}  // namespace

RegistryValue ReadRegValue(HKEY root, const std::wstring &subKey, const std::wstring &valueName) {
  // A failed open leaves the key null, and the read below fails on it.
  HKEY key = nullptr;
  RegOpenKeyExA(root, ansi::FromText(subKey).c_str(), 0, KEY_READ, &key);
  RegistryValue value;
  DWORD type = REG_NONE;
  QueryRegValue(key, valueName, value, type);
  RegCloseKey(key);
  return value;
}

LONG QueryRegValue(HKEY key, const std::wstring &valueName, RegistryValue &value, DWORD &type) {
  const std::string name = ansi::FromText(valueName);
  // Size probe: reports the type and the bytes the data needs. A missing
  // value reports no type, which leaves 0 and ends as unsupported.
  DWORD probedType = REG_NONE;
  DWORD size = 0;
  BYTE noData[1] = {0};
  const LONG status = RegQueryValueExA(key, name.c_str(), nullptr, &probedType, noData, &size);
  type = probedType;
  try {
    switch (probedType) {
      case REG_SZ:
      case REG_EXPAND_SZ:
      case REG_MULTI_SZ:
        return ReadText(key, name, probedType, size, value);
      case REG_DWORD:
      case REG_DWORD_BIG_ENDIAN:
        return ReadInteger(key, name, probedType, size, value);
      case REG_BINARY:
        return ReadBytes(key, name, probedType, size, value);
      default:
        return kUnsupportedType;
    }
  } catch (const std::bad_alloc &) {
    // No room for the data: the value stays as it was.
    return status;
  }
}

}  // namespace modRegistryAccess
