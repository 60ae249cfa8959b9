# Cross build of the Windows product with mingw-w64 (i686). The -posix
# compilers carry std::thread and std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(NORVIK_WIDL i686-w64-mingw32-widl)
# widl for this architecture, and where it finds stdole2.tlb for importlib.
# Hosts that cannot run 32-bit code have no 32-bit Wine; importlib reads only
# the GUIDs of the 64-bit stdole2.tlb, and the type library comes out the same.
set(NORVIK_WIDL_COMMAND ${NORVIK_WIDL} --win32 -I/usr/include/wine/wine/windows)
set(NORVIK_WIDL_TYPELIBS /usr/lib/i386-linux-gnu/wine/i386-windows)
if(NOT EXISTS ${NORVIK_WIDL_TYPELIBS}/stdole2.tlb)
  set(NORVIK_WIDL_TYPELIBS /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
endif()
set(NORVIK_WINE_ARCH win32)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run.sh ${NORVIK_WINE_ARCH})
