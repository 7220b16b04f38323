// Text crosses the Win32 boundary in the system's ANSI code page; inside the
// program it is UTF-16 (std::wstring). These two do the crossing.
#pragma once

#include <cstddef>
#include <string>

namespace ansi {

// Program text to a narrow string in the ANSI code page.
std::string FromText(const std::wstring &text);

// The first `count` bytes of a narrow string in the ANSI code page (or the
// one named: CP_OEMCP, say) to program text. Zero bytes inside the range are
// kept as zero characters.
std::wstring ToText(const char *bytes, std::size_t count, unsigned codePage = 0);

}  // namespace ansi
