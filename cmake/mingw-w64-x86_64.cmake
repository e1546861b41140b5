# The 64-bit Windows build (cmake/mingw-w64.cmake).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VORSAL_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
