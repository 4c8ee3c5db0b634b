# Cross build for 64-bit Windows with Debian's MinGW-w64 (the posix-threads
# compilers, which std::thread needs). The programs are linked statically, so
# the .exe files run without the MinGW runtime DLLs next to them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QVBP_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QVBP_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QVBP_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${QVBP_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QVBP_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Tests run under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
