# Cross-build for 64-bit Windows with Debian's mingw-w64 (posix thread
# model, so that std::thread works). The programs are linked statically
# against the compiler's run-time libraries so that they run under Wine or
# on Windows without extra DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MIRDEL_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MIRDEL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MIRDEL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${MIRDEL_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MIRDEL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Tests and the command-line tool run under Wine when it is there.
find_program(MIRDEL_WINE NAMES wine wine64)
if(MIRDEL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${MIRDEL_WINE})
endif()
