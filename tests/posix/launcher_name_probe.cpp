// A helper of platform_test.cpp, not a test: exits with 0 when the module
// handle of OVTST552.EXE names this program, 1 when there is none.
#include "platform.h"

int main() { return OsGetModuleHandle("OVTST552.EXE") == OsGetModuleHandle(nullptr) ? 0 : 1; }
