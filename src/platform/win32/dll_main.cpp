#include <windows.h>

// Loading and unloading do nothing: the library keeps no state to set up or
// tear down, so every reason succeeds.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
