# Cross-compiling for 64-bit Windows with mingw-w64 from Debian (packages mingw-w64 and
# g++-mingw-w64-x86-64-posix). The POSIX threads model gives std::thread and std::mutex; the
# runtime is linked statically, so the executables need nothing beyond the system's own DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CRENOVIX_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${CRENOVIX_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${CRENOVIX_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${CRENOVIX_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${CRENOVIX_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run under wine's 64-bit loader (CRENOVIX_WINE64; a preset or -D may name another),
# through run-under-wine.sh, which starts a program again when wine failed to start it at all.
# Scripts that drive wine themselves take CRENOVIX_WINE64.
find_program(CRENOVIX_WINE64 NAMES wine64 PATHS /usr/lib/wine)
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR AND CRENOVIX_WINE64)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/run-under-wine.sh ${CRENOVIX_WINE64})
endif()
