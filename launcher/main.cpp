#include <windows.h>

#include "launcher/entry.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return RunLauncher(ReadCommandLine()); }
