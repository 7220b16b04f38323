// Runs a system command as a child process and waits until it has ended.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace modShell {

// Result when the child cannot be started.
constexpr std::int32_t kNotStarted = -1;

// How much of the child's output is kept: its end, where a command says why
// it failed.
constexpr std::size_t kOutputBound = 1024;

// What the child wrote, and why it could not be started.
struct Output {
  // The end of its standard output and error (at most kOutputBound bytes,
  // from a line's start when cut), decoded from the OEM code page that a new
  // console writes in, each run of line breaks and blanks made one space.
  // Empty when it wrote nothing or its output could not be kept.
  std::wstring text;
  // For kNotStarted: the call that failed ("GetSystemDirectory",
  // "CreateProcess") and its Windows error; null when the command line named
  // no program of the system directory.
  const char *failedCall = nullptr;
  std::uint32_t error = 0;
};

// Starts commandLine, whose first word names a program of the system
// directory, with the system directory as its working directory and the null
// device as its standard input, output and error; a positive showState starts
// it hidden. With `output`, its standard output and error go to a temporary
// file instead, read once it has ended: a file, so that however much it
// writes, and whoever keeps it open after it has ended, nothing waits on us
// or we on them. Returns the child's exit code (0 when it cannot be read) or
// kNotStarted.
std::int32_t RunAndWait(const std::wstring &commandLine, int showState, Output *output = nullptr);

}  // namespace modShell
