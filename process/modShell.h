// Runs a system command as a child process and waits until it has ended.
#pragma once

#include <cstdint>
#include <string>

namespace modShell {

// Result when the child cannot be started.
constexpr std::int32_t kNotStarted = -1;

// Starts commandLine, whose first word names a program of the system
// directory, with the system directory as its working directory and the null
// device as its standard input, output and error; a positive showState starts
// it hidden. Returns the child's exit code (0 when it cannot be read) or
// kNotStarted.
std::int32_t RunAndWait(const std::wstring &commandLine, int showState);

}  // namespace modShell
