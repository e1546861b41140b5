# vorsal_library(<target> [DEPS <targets...>])
# One library per source folder: every .cpp/.h of the folder except the
# executables' entry files (*_main.cpp).
function(vorsal_library target)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  list(FILTER sources EXCLUDE REGEX "_main\\.cpp$")
  # What differs by system is a file per system: posix_*.cpp on Linux,
  # win32_*.cpp on Windows.
  if(WIN32)
    list(FILTER sources EXCLUDE REGEX "/posix_[^/]*\\.cpp$")
  else()
    list(FILTER sources EXCLUDE REGEX "/win32_[^/]*\\.cpp$")
  endif()
  add_library(${target} STATIC ${sources})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${target} PUBLIC ${ARG_DEPS})
endfunction()
