# Cross build for 64-bit Windows with Debian's mingw-w64 (the posix thread model, which
# std::thread and std::mutex need), used by scripts/build-windows.sh. The runtime is linked
# statically so that pelotest.exe needs no DLL beside it but Windows' own.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(mingw_prefix x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${mingw_prefix}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_prefix}-g++-posix)
set(CMAKE_RC_COMPILER ${mingw_prefix}-windres)
# Libraries and headers built for Windows (googletest, libjpeg; a link to Boost's headers, which
# serve every target) lie in the build script's PELOTEST_WINDOWS_PREFIX; programs are the build
# machine's.
set(CMAKE_FIND_ROOT_PATH /usr/${mingw_prefix} ${PELOTEST_WINDOWS_PREFIX})
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES PELOTEST_WINDOWS_PREFIX)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
# Tests run under wine; ctest and gtest_discover_tests start them through it.
find_program(PELOTEST_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(PELOTEST_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${PELOTEST_WINE})
endif()
