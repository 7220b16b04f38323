// The second yardstick of the benchmark: a Windows GUI program that creates
// one hidden window of a system class and destroys it, built the way
// FQSrvUninstall.exe is and with its manifest. Under Wine the first window
// of a process sets up the display driver and the common controls, which
// costs far more than the process itself; this program shows that cost apart
// from anything of ours.
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  HWND window =
      CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return 1;
  DestroyWindow(window);
  return 0;
}
