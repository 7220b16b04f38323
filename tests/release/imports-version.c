/* Imports VERSION.dll, a DLL that is not a KnownDLL: tools/check-exe.sh must
   refuse it. Never run. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  (void)instance;
  (void)previous;
  (void)show;
  return (int)GetFileVersionInfoSizeA(commandLine, NULL);
}
