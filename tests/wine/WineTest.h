// Helpers shared by the tests that run on Windows (under Wine on Linux).
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

// A check whose premise does not hold on this machine fails with this first
// (`<< COULD_NOT_CHECK "why"`): the self-test kit's runner counts it as
// failed and tells it apart from a fault of the program.
#define COULD_NOT_CHECK "could not check: "

namespace winetest {

// Keeps the program's "--name=value" arguments for Arg.
void ParseArguments(int argc, char **argv);

// The value of a "--name=value" argument of the test program, or empty.
// ctest hands the paths of our other programs to the tests this way.
std::string Arg(const std::string &name);

// A path as Windows programs write it: Unix paths (from ctest, under Wine)
// become paths on Wine's Z: drive; Windows paths are returned as they are.
std::string WindowsPath(const std::string &path);

// A new, empty directory under the temporary directory, removed (with what
// it holds) by RemoveDirectoryTree, which never follows a junction or
// symbolic link: it removes the link itself.
std::string MakeTempDirectory();
void RemoveDirectoryTree(const std::string &directory);

bool FileExists(const std::string &path);
std::string ReadWholeFile(const std::string &path);
bool WriteWholeFile(const std::string &path, const std::string &text);

// The directory part of a path, without the final backslash.
std::string DirectoryOf(const std::string &path);

// Ends every process that `processId` started, and theirs, but not
// `processId` itself.
void EndDescendantsOf(DWORD processId);

// Whether this runs under Wine rather than on Windows: Wine's ntdll exports
// wine_get_version, Windows' does not.
bool UnderWine();

// Milliseconds from a steady clock.
std::uint64_t NowMs();

// Asks `done` every `stepMs` until it holds, at most `timeoutMs` long (and
// once more at the end); says whether it held.
bool WaitUntil(const std::function<bool()> &done, DWORD timeoutMs, DWORD stepMs = 50);

// How long a wait bounded by `boundMs` took (a service's state, a run of the
// program), handed to the observer set last, if any: the test programs note
// the longest for each bound in the test's report (WineTestMain.cpp), where
// tools/wine-bounds.py compares them with their bounds.
using WaitObserver = void (*)(DWORD boundMs, std::uint64_t tookMs);
void SetWaitObserver(WaitObserver observe);
void NoteWait(DWORD boundMs, std::uint64_t tookMs);

}  // namespace winetest
