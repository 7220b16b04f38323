#include "platform/ansi.h"

#include <climits>
#include <vector>

#include "platform/winapi.h"

namespace ansi {

static_assert(CP_ACP == 0, "ToText's default code page is the ANSI one");

std::string FromText(const std::wstring &text) {
  if (text.empty() || text.size() > static_cast<std::size_t>(INT_MAX)) return std::string();
  const int wideCount = static_cast<int>(text.size());
  const int needed =
      WideCharToMultiByte(CP_ACP, 0, text.data(), wideCount, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return std::string();
  std::string narrow(static_cast<std::size_t>(needed), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), wideCount, &narrow[0], needed, nullptr, nullptr);
  return narrow;
}

std::wstring ToText(const char *bytes, std::size_t count, unsigned codePage) {
  if (bytes == nullptr || count == 0 || count > static_cast<std::size_t>(INT_MAX)) {
    return std::wstring();
  }
  const int byteCount = static_cast<int>(count);
  const int needed = MultiByteToWideChar(codePage, 0, bytes, byteCount, nullptr, 0);
  if (needed <= 0) return std::wstring();
  std::vector<wchar_t> wide(static_cast<std::size_t>(needed));
  MultiByteToWideChar(codePage, 0, bytes, byteCount, wide.data(), needed);
  return std::wstring(wide.data(), wide.size());
}

}  // namespace ansi
