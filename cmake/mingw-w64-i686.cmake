# The 32-bit Windows build (cmake/mingw-w64.cmake), for 32-bit Windows and
# the technicians' older laptops. Its suites run under 32-bit Wine, each
# proving that it ran (tests/windows/wine-proved).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VORSAL_MINGW_PREFIX i686-w64-mingw32)
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/windows/wine-proved)
endif()
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
