// Fuzz target: the registry reader on whatever a value may hold.
//
// Input layout (see FuzzInput.h):
//   u8  type: below 0xF0 the value's type is this byte modulo 16 (REG_NONE to
//       REG_QWORD and a few beyond); from 0xF0 up a u32 type follows
//   u8  flags: 1 code page 932 (else 1252), 2 through ReadRegValue (else
//       QueryRegValue on a key we open), 4 value missing, 8 key open fails (the key
//       handed to QueryRegValue is then null),
//       16 size probe fails, 32 data read fails, bits 6-7 value passed in
//   u8  error code of the injected failures (index into kErrors)
//   ... the value's bytes, 0 to max_len of them
//
// Every input is compared with what the reader must give for it, and with the
// invariants that hold whatever the type: text never longer than the bytes
// stored, integers only from types 4 and 5 with at most 4 bytes, a byte string
// exactly the stored bytes, unsupported types leaving the value untouched.
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "FuzzInput.h"
#include "registry/modRegistryAccess.h"
#include "standin/machine.h"

using fuzz::Check;
using modRegistryAccess::ByteString;
using modRegistryAccess::kUnsupportedType;
using modRegistryAccess::RegistryValue;

namespace {

const char kKey[] = "Software\\Fuzz";
const wchar_t kWideKey[] = L"Software\\Fuzz";
const char kName[] = "Value";
const wchar_t kWideName[] = L"Value";

const LONG kErrors[] = {ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND, ERROR_MORE_DATA,
                        ERROR_NOT_ENOUGH_MEMORY};

struct Case {
  DWORD type = REG_NONE;
  std::vector<std::uint8_t> data;
  bool doubleByte = false;
  bool throughReadRegValue = false;
  bool missing = false;
  bool failOpen = false;
  bool failProbe = false;
  bool failRead = false;
  LONG error = ERROR_ACCESS_DENIED;
  RegistryValue before;
};

Case Decode(const std::uint8_t *bytes, std::size_t size) {
  fuzz::Input input(bytes, size);
  Case c;
  const std::uint8_t type = input.U8();
  c.type = type < 0xF0 ? type % 16u : input.U32();
  const std::uint8_t flags = input.U8();
  c.doubleByte = (flags & 1) != 0;
  c.throughReadRegValue = (flags & 2) != 0;
  c.missing = (flags & 4) != 0;
  c.failOpen = (flags & 8) != 0;
  c.failProbe = (flags & 16) != 0;
  c.failRead = (flags & 32) != 0;
  c.error = kErrors[input.U8() % (sizeof kErrors / sizeof kErrors[0])];
  switch (flags >> 6) {
    case 1:
      c.before = std::wstring(L"before");
      break;
    case 2:
      c.before = std::int32_t{-7};
      break;
    case 3:
      c.before = ByteString{0xAB};
      break;
    default:
      break;
  }
  if (c.throughReadRegValue) c.before = std::monostate();  // it starts from an empty value
  c.data = input.Rest();
  return c;
}

// The text of the stored bytes less the last one, converted the way the
// platform converts: exactly those bytes must reach the conversion.
std::wstring TextOf(const std::vector<std::uint8_t> &data) {
  const int count = static_cast<int>(data.size()) - 1;
  if (count <= 0) return std::wstring();
  const char *bytes = reinterpret_cast<const char *>(data.data());
  const int length = MultiByteToWideChar(CP_ACP, 0, bytes, count, nullptr, 0);
  std::wstring text(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, bytes, count, &text[0], length);
  return text;
}

struct Outcome {
  LONG status = ERROR_SUCCESS;
  RegistryValue value;
  DWORD type = REG_NONE;
};

// What the reader must give for the case.
Outcome Expected(const Case &c) {
  Outcome out{ERROR_SUCCESS, c.before, c.type};
  // A key that did not open, a missing value and a failed probe report no type.
  if (c.failOpen || c.missing || c.failProbe) return {kUnsupportedType, c.before, REG_NONE};
  switch (c.type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
    case REG_MULTI_SZ:
      if (c.failRead) {
        out.status = c.error;
        out.value = std::monostate();
      } else if (!c.data.empty()) {
        out.value = TextOf(c.data);
      }
      break;
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN:
      if (c.failRead) {
        out.status = c.error;
      } else if (c.data.size() > sizeof(std::int32_t)) {
        out.status = ERROR_MORE_DATA;
      } else {
        std::uint32_t number = 0;
        for (std::size_t i = 0; i < c.data.size(); ++i)
          number |= std::uint32_t{c.data[i]} << (8 * i);
        out.value = static_cast<std::int32_t>(number);
      }
      break;
    case REG_BINARY:
      if (c.failRead) {
        out.status = c.error;
        out.value = std::monostate();
      } else {
        out.value = ByteString(c.data);
      }
      break;
    default:
      out.status = kUnsupportedType;
      break;
  }
  return out;
}

// Whatever the model says, these hold for any stored value.
void CheckInvariants(const Case &c, const RegistryValue &value, LONG status) {
  if (status == kUnsupportedType) Check(value == c.before, "unsupported type leaves the value");
  if (value == c.before) return;
  if (const auto *text = std::get_if<std::wstring>(&value)) {
    Check(c.type == REG_SZ || c.type == REG_EXPAND_SZ || c.type == REG_MULTI_SZ,
          "text only from the text types");
    Check(text->size() < c.data.size(), "text shorter than the bytes stored");
  } else if (std::holds_alternative<std::int32_t>(value)) {
    Check(c.type == REG_DWORD || c.type == REG_DWORD_BIG_ENDIAN, "integer only from types 4, 5");
    Check(c.data.size() <= sizeof(std::int32_t), "integer only from at most 4 bytes");
  } else if (const auto *bytes = std::get_if<ByteString>(&value)) {
    Check(c.type == REG_BINARY, "byte string only from REG_BINARY");
    Check(*bytes == c.data, "byte string is exactly the stored bytes");
  } else {
    Check(status != ERROR_SUCCESS, "an emptied value comes with an error");
  }
}

void Arrange(const Case &c) {
  standin::Machine &machine = standin::machine();
  machine.reset();
  machine.setCodePage(c.doubleByte ? 932 : 1252);
  machine.addKey(kKey);
  if (!c.missing) machine.setValue(kKey, kName, c.type, c.data);
  if (c.failOpen) machine.failCall("RegOpenKeyExA", {1, static_cast<DWORD>(c.error)});
  if (c.failProbe) machine.failCall("RegQueryValueExA", {1, static_cast<DWORD>(c.error)});
  if (c.failRead) machine.failCall("RegQueryValueExA", {2, static_cast<DWORD>(c.error)});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const Case c = Decode(data, size);
  Arrange(c);
  const Outcome expected = Expected(c);

  if (c.throughReadRegValue) {
    const RegistryValue value =
        modRegistryAccess::ReadRegValue(HKEY_LOCAL_MACHINE, kWideKey, kWideName);
    // ReadRegValue has no status; an error shows as the empty value.
    CheckInvariants(c, value, expected.status);
    Check(value == expected.value, "ReadRegValue gives the stored value");
  } else {
    HKEY key = nullptr;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key);
    RegistryValue value = c.before;
    DWORD type = 0xDEADBEEF;
    const LONG status = modRegistryAccess::QueryRegValue(key, kWideName, value, type);
    RegCloseKey(key);
    CheckInvariants(c, value, status);
    Check(status == expected.status, "QueryRegValue status");
    Check(type == expected.type, "QueryRegValue reports the probed type");
    Check(value == expected.value, "QueryRegValue value");
  }
  Check(standin::machine().openHandles().empty(), "every key closed");
  return 0;
}
