# Cross build of the Windows product with mingw-w64 (x86_64). The -posix
# compilers carry std::thread and std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(NORVIK_WIDL x86_64-w64-mingw32-widl)
# widl for this architecture, and where it finds stdole2.tlb for importlib.
set(NORVIK_WIDL_COMMAND ${NORVIK_WIDL} --win64 -I/usr/include/wine/wine/windows)
set(NORVIK_WIDL_TYPELIBS /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
set(NORVIK_WINE_ARCH win64)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run.sh ${NORVIK_WINE_ARCH})
