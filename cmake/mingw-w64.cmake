# Cross-builds the Windows executables with Debian's mingw-w64, for the
# processor that mingw-w64-x86_64.cmake (64-bit) or mingw-w64-i686.cmake
# (32-bit) sets with VORSAL_MINGW_PREFIX: the posix thread model
# (std::thread, std::mutex) and a static runtime, so that the .exe files
# need no DLL besides the system's own.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${VORSAL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VORSAL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VORSAL_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VORSAL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# The suites run under Wine.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR wine)
endif()
