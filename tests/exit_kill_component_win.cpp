// A component of a host that calls the module's Kill from its own
// DLL_PROCESS_DETACH, with the loader's lock held: at process exit, when the
// system has already ended every other thread, the module's worker too, or
// when the host unloads it mid-album. It writes the file named by
// ENCBRIDGE_TEST_KILL_MARKER once Kill has returned.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_DETACH) return TRUE;
    HMODULE module = GetModuleHandleA("encbridge.dll");
    if (module == nullptr) return TRUE;
    auto kill = reinterpret_cast<int (*)()>(reinterpret_cast<void *>(GetProcAddress(module, "Kill")));
    if (kill == nullptr) return TRUE;
    kill();
    char marker[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("ENCBRIDGE_TEST_KILL_MARKER", marker, sizeof marker);
    if (length == 0 || length >= sizeof marker) return TRUE;
    HANDLE file = CreateFileA(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return TRUE;
}
