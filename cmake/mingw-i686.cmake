# Cross build of the Windows DLL and its tests; the tests run under wine.
# The posix thread model gives the tests std::mutex (GoogleTest needs it), the
# DLL is built with the win32 one (see the end of this file);
# everything links statically, so no DLL but the system's is imported.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run)
# The module itself is compiled and linked with the win32 thread model
# (src/CMakeLists.txt): it needs std::atomic only, and so no thread runtime.
set(ENCBRIDGE_MODULE_LAUNCHER ${CMAKE_CURRENT_LIST_DIR}/win32-thread-model)
