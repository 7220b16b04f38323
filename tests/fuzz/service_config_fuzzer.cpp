// Fuzz target: QueryServiceInfo on whatever configuration record the service
// manager hands back.
//
// Input layout (see FuzzInput.h):
//   u8  flags: 1 code page 932 (else 1252), 2 manager does not open, 4 service
//       does not open, 8 status read fails, 16 size probe fails, 32 record
//       read fails, 64 the record is padded with filler bytes
//   u8  error code of the injected failures (index into kErrors)
//   u32 the service's current state
//   5 x (u8 mode, u32 n): where each string pointer of the record points
//       (kPointerFields order), as an offset from the record's start:
//       0 left as the record's own bytes, 1 n, 2 n % 64 before the record's
//       end, 3 n % 64 past its end, 4 n modulo the record's size plus one,
//       5 a megabyte and n beyond it
//   u8 mode, u32 n: the size the probe reports: 0 the record's size, 1 n,
//       2 n % 256 more, 3 n % 256 less, 4 8191 + n % 3 (the limit)
//   u16 count, u8 byte: filler appended to the record when flag 64 is set
//   ... the record's bytes
//
// Invariants: no out-of-bounds read (ASan), the result is false whenever the
// record cannot be read, and then neither start type nor path is written; the
// path is never longer than the record, holds no zero, has no outer spaces,
// and where its pointer is known it is exactly the record's text there.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "service/modNTSrvExt.h"
#include "standin/machine.h"

using fuzz::Check;

namespace {

const DWORD kErrors[] = {ERROR_ACCESS_DENIED, ERROR_INSUFFICIENT_BUFFER, ERROR_INVALID_HANDLE,
                         ERROR_MORE_DATA};
const std::size_t kPointerFields[] = {
    offsetof(QUERY_SERVICE_CONFIGA, lpBinaryPathName),
    offsetof(QUERY_SERVICE_CONFIGA, lpLoadOrderGroup),
    offsetof(QUERY_SERVICE_CONFIGA, lpDependencies),
    offsetof(QUERY_SERVICE_CONFIGA, lpServiceStartName),
    offsetof(QUERY_SERVICE_CONFIGA, lpDisplayName),
};
constexpr std::size_t kFieldCount = sizeof kPointerFields / sizeof kPointerFields[0];
// What QueryServiceInfo allocates at most for a record.
constexpr DWORD kMaxConfigSize = 8 * 1024;

constexpr std::int32_t kUntouchedNumber = 99;
const wchar_t kUntouchedPath[] = L"as passed";

struct Case {
  bool doubleByte = false;
  bool failManager = false, failService = false, failStatus = false;
  bool failProbe = false, failRead = false;
  DWORD error = ERROR_ACCESS_DENIED;
  DWORD currentState = SERVICE_STOPPED;
  std::vector<std::uint8_t> record;
  std::map<std::size_t, std::size_t> pointers;  // field offset -> target offset
  std::optional<DWORD> bytesNeeded;
};

std::size_t TargetOf(std::uint8_t mode, std::uint32_t n, std::size_t recordSize) {
  switch (mode % 6) {
    case 1:
      return n;
    case 2:
      return recordSize - std::min<std::size_t>(recordSize, n % 64);
    case 3:
      return recordSize + n % 64;
    case 4:
      return n % (recordSize + 1);
    default:
      return (std::size_t{1} << 20) + n;
  }
}

std::optional<DWORD> BytesNeededOf(std::uint8_t mode, std::uint32_t n, std::size_t recordSize) {
  const auto size = static_cast<DWORD>(recordSize);
  switch (mode % 5) {
    case 1:
      return n;
    case 2:
      return size + n % 256;
    case 3:
      return size - std::min<DWORD>(size, n % 256);
    case 4:
      return kMaxConfigSize - 1 + n % 3;
    default:
      return std::nullopt;
  }
}

Case Decode(const std::uint8_t *bytes, std::size_t size) {
  fuzz::Input input(bytes, size);
  Case c;
  const std::uint8_t flags = input.U8();
  c.doubleByte = (flags & 1) != 0;
  c.failManager = (flags & 2) != 0;
  c.failService = (flags & 4) != 0;
  c.failStatus = (flags & 8) != 0;
  c.failProbe = (flags & 16) != 0;
  c.failRead = (flags & 32) != 0;
  c.error = kErrors[input.U8() % (sizeof kErrors / sizeof kErrors[0])];
  c.currentState = input.U32();
  std::uint8_t pointerModes[kFieldCount];
  std::uint32_t pointerValues[kFieldCount];
  for (std::size_t i = 0; i < kFieldCount; ++i) {
    pointerModes[i] = input.U8();
    pointerValues[i] = input.U32();
  }
  const std::uint8_t neededMode = input.U8();
  const std::uint32_t neededValue = input.U32();
  const std::uint16_t fillerCount = input.U16();
  const std::uint8_t filler = input.U8();
  c.record = input.Rest();
  if ((flags & 64) != 0) c.record.insert(c.record.end(), fillerCount, filler);
  for (std::size_t i = 0; i < kFieldCount; ++i) {
    if (pointerModes[i] % 6 == 0) continue;
    c.pointers[kPointerFields[i]] = TargetOf(pointerModes[i], pointerValues[i], c.record.size());
  }
  c.bytesNeeded = BytesNeededOf(neededMode, neededValue, c.record.size());
  return c;
}

void Arrange(const Case &c) {
  standin::Machine &machine = standin::machine();
  machine.reset();
  machine.setCodePage(c.doubleByte ? 932 : 1252);
  standin::Service service;
  service.currentState = c.currentState;
  service.rawConfig = c.record;
  service.rawConfigPointers = c.pointers;
  service.bytesNeededOverride = c.bytesNeeded;
  machine.addService("FQ", service);
  if (c.failManager) machine.failCall("OpenSCManagerA", {1, c.error});
  if (c.failService) machine.failCall("OpenServiceA", {1, c.error});
  if (c.failStatus) machine.failCall("QueryServiceStatus", {1, c.error});
  if (c.failProbe) machine.failCall("QueryServiceConfigA", {1, c.error});
  if (c.failRead) machine.failCall("QueryServiceConfigA", {2, c.error});
}

struct Outcome {
  bool result = false;
  bool configRead = false;     // start type and path written
  std::int32_t startType = 0;  // when configRead
  DWORD recordSize = 0;        // the size the record was read with
  bool pathKnown = false;      // the path below is exact
  std::wstring path;
};

std::wstring TrimSpaces(const std::wstring &text) {
  const std::size_t first = text.find_first_not_of(L' ');
  if (first == std::wstring::npos) return std::wstring();
  return text.substr(first, text.find_last_not_of(L' ') - first + 1);
}

std::wstring TextOf(const std::uint8_t *bytes, std::size_t count) {
  if (count == 0) return std::wstring();
  const char *narrow = reinterpret_cast<const char *>(bytes);
  const int length = MultiByteToWideChar(CP_ACP, 0, narrow, static_cast<int>(count), nullptr, 0);
  std::wstring text(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, narrow, static_cast<int>(count), &text[0], length);
  return text;
}

// The binary path read from a record of `size` bytes, when its pointer was
// set by a fixup the manager could write and no other fixup's bytes lie in
// the text: then it is the record's text from the target up to its first zero.
void ExpectPath(const Case &c, DWORD size, Outcome &out) {
  constexpr std::size_t kPathField = offsetof(QUERY_SERVICE_CONFIGA, lpBinaryPathName);
  auto path = c.pointers.find(kPathField);
  if (path == c.pointers.end() || kPathField + sizeof(char *) > size) return;
  const std::size_t target = path->second;
  // What the reader holds: the record, then zeros up to one byte past `size`.
  std::vector<std::uint8_t> buffer(c.record);
  buffer.resize(std::size_t{size} + 1, 0);
  if (target >= buffer.size()) {
    out.pathKnown = true;  // outside what was handed back: no path
    return;
  }
  for (const auto &fixup : c.pointers) {
    const bool written = fixup.first + sizeof(char *) <= size;
    if (written && fixup.first + sizeof(char *) > target) return;  // pointer bytes in the text
  }
  const auto begin = buffer.begin() + static_cast<std::ptrdiff_t>(target);
  const auto end = std::find(begin, buffer.end(), 0);
  out.pathKnown = true;
  out.path = TrimSpaces(TextOf(&*begin, static_cast<std::size_t>(end - begin)));
}

// What QueryServiceInfo must give for the case.
Outcome Expected(const Case &c) {
  Outcome out;
  if (c.failManager || c.failService || c.failStatus) return out;
  // The size the manager asks for; a failed probe reports none, and the read
  // then offers no room.
  const DWORD wanted = c.bytesNeeded.value_or(static_cast<DWORD>(c.record.size()));
  const DWORD needed = c.failProbe ? 0 : wanted;
  const bool ok = !c.failProbe || c.error == ERROR_INSUFFICIENT_BUFFER;  // its usual failure
  if (needed > kMaxConfigSize) return out;
  if (c.failRead || needed < wanted || needed < c.record.size()) return out;
  out.result = ok;
  out.configRead = true;
  out.recordSize = needed;
  std::uint8_t startType[4] = {0, 0, 0, 0};
  for (std::size_t i = 0; i < 4 && 4 + i < c.record.size(); ++i) startType[i] = c.record[4 + i];
  out.startType =
      static_cast<std::int32_t>(startType[0] | (startType[1] << 8) | (startType[2] << 16) |
                                (static_cast<std::uint32_t>(startType[3]) << 24));
  ExpectPath(c, needed, out);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const Case c = Decode(data, size);
  Arrange(c);
  const Outcome expected = Expected(c);

  std::int32_t stateCode = kUntouchedNumber;
  std::int32_t startType = kUntouchedNumber;
  std::wstring binaryPath = kUntouchedPath;
  const bool result = modNTSrvExt::QueryServiceInfo(L"FQ", stateCode, startType, binaryPath);

  Check(result == expected.result, "result true exactly when everything was read");
  Check(stateCode == kUntouchedNumber || (stateCode >= 1 && stateCode <= 7),
        "state code from the table or untouched");
  if (!expected.configRead) {
    Check(startType == kUntouchedNumber, "start type untouched when the record was not read");
    Check(binaryPath == kUntouchedPath, "path untouched when the record was not read");
  } else {
    Check(startType == expected.startType, "start type from the record");
    Check(binaryPath.size() <= expected.recordSize, "path no longer than the record");
    Check(binaryPath.find(L'\0') == std::wstring::npos, "path ends at the first zero");
    Check(binaryPath.empty() || (binaryPath.front() != L' ' && binaryPath.back() != L' '),
          "path trimmed of spaces");
    if (expected.pathKnown) Check(binaryPath == expected.path, "path is the record's text");
  }
  Check(standin::machine().openHandles().empty(), "both service handles closed");
  return 0;
}
