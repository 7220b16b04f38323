// Entry point of FQSrvUninstall.exe. Arguments are ignored: the program has
// no command line. Its exit status tells an installer whether the service is
// gone (0) or its deletion failed (1).
#include "app/Uninstall.h"
#include "platform/winapi.h"

namespace {

// We run elevated, often from a folder that others may write (an
// uninstaller's temporary folder, a download folder). The DLLs that Windows
// loads late on our behalf (the theme engine for the window and the box, and
// what it brings) must come from the system directory, never from beside the
// program or from the current directory. SetDefaultDllDirectories is there
// from Windows 8 (Vista and 7 with KB2533623): looked up, not imported, so
// that the program still starts where it is missing.
void KeepDllSearchToTheSystem() {
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI *)(DWORD);
  const FARPROC found =
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories");
  if (found != nullptr) {
    // Through a function type without arguments, which any function
    // pointer converts to and from without a warning.
    const auto setDefaultDllDirectories =
        reinterpret_cast<SetDefaultDllDirectoriesFunction>(reinterpret_cast<void (*)()>(found));
    setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
  SetDllDirectoryA("");  // the current directory out of the search
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  KeepDllSearchToTheSystem();  // before anything can load a DLL
  return Uninstall::Main();
}
