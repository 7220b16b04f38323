// The yardstick of the benchmark: a Windows GUI program that does nothing,
// compiled and linked the way FQSrvUninstall.exe is. What it takes to start
// and end is the system's (or Wine's) cost of a process, not our code's.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return 0; }
