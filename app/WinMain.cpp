// Entry point of FQSrvUninstall.exe. Arguments are ignored: the program has
// no command line. Its exit status tells an installer whether the service is
// gone (0) or its deletion failed (1).
#include "app/Uninstall.h"
#include "platform/winapi.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return Uninstall::Main(); }
