# Cross build for 64-bit Windows with mingw-w64. Wine on this machine runs
# only 64-bit programs (a 32-bit one exits 0 doing nothing), so every
# program, setup included, is built x86_64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QK_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QK_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QK_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QK_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The W variants of the API. setup (8-bit text) takes these flags off again
# in its own folder. No -municode: it makes the runtime enter through wmain,
# which CMake's own compiler checks and every main()-based program (the test
# programs) lack; the device programs' entry reads the wide command line
# itself (platform/win32/entry.cpp).
set(QK_UNICODE_FLAGS "-DUNICODE -D_UNICODE")
set(CMAKE_C_FLAGS_INIT "${QK_UNICODE_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${QK_UNICODE_FLAGS}")

# A static runtime: the programs run in any prefix without DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# The Wine emulator for test programs is set in tests/, where the build
# folder (and so the Wine prefix) is known.
