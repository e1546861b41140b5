# The Windows build (cross-built with mingw-w64, cmake/mingw-w64-x86_64.cmake):
# no Qt, so the Qt-free libraries, vorsal-cli.exe, vorsal-key.exe, the
# Win32 window vorsal.exe (win/) and the
# suites that need neither Qt nor a pseudo-terminal. The suites run under
# CMAKE_CROSSCOMPILING_EMULATOR (wine).
include(cmake/VorsalLibrary.cmake)

# Windows headers without the min/max macros and with the Unicode API.
add_compile_definitions(NOMINMAX WIN32_LEAN_AND_MEAN UNICODE _UNICODE _WIN32_WINNT=0x0601)

add_subdirectory(platform)
target_link_libraries(vorsal_platform PUBLIC setupapi advapi32 version)
add_subdirectory(protocol)
add_subdirectory(serial)
add_subdirectory(keys)
add_subdirectory(app)
add_subdirectory(sim)
if(VORSAL_WITH_REGISTRY)
  add_subdirectory(registry)
  include(cmake/WindowsLibpq.cmake)
endif()
add_subdirectory(production)
add_subdirectory(cli)
add_subdirectory(window)

# Each executable carries the version resource that TQSVersionInfo reads.
set(VORSAL_VERSION_COMMAS "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},${PROJECT_VERSION_TWEAK}")
# The values are those of the Linux build's version block, so that both
# builds print the same identity, and besides each program's own description
# and file name.
function(vorsal_version_resource target description)
  set(VORSAL_FILE_DESCRIPTION "${description}")
  set(VORSAL_INTERNAL_NAME "${target}")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${CMAKE_BINARY_DIR}/rc/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_BINARY_DIR}/rc/${target}.rc)
endfunction()
# The installer's identity (scripts/windows-installer): the same publisher,
# copyright and version text as the programs'.
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/identity.nsh CONTENT
  "!define PUBLISHER \"@VORSAL_COMPANY_NAME@\"\n!define COPYRIGHT \"@VORSAL_LEGAL_COPYRIGHT@\"\n\
!define PRODUCT_VERSION \"@VORSAL_PRODUCT_VERSION@\"\n" @ONLY)
enable_language(RC)
vorsal_version_resource(vorsal-cli "Vorsal command line: modem settings, keys and the journal")
vorsal_version_resource(vorsal-key "Vorsal key tool: derives and stores modem keys")
add_subdirectory(win)

if(VORSAL_BUILD_TESTS)
  enable_testing()
  # Debian has no GoogleTest for mingw: it is built from its sources.
  set(VORSAL_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's sources")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  add_subdirectory(${VORSAL_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  # (its build names them GTest::gtest and GTest::gmock, as find_package does)

  file(GLOB support_sources CONFIGURE_DEPENDS
       ${PROJECT_SOURCE_DIR}/tests/support/*.cpp ${PROJECT_SOURCE_DIR}/tests/support/*.h)
  # Pseudo-terminals and the simulator as a child process are Linux's; the
  # registry's PostgreSQL server is not built for Windows.
  list(FILTER support_sources EXCLUDE REGEX "(gtest_main_[a-z]+|pty_pair|sim_process|postgres_server)\\.(cpp|h)$")
  add_library(vorsal_testsupport STATIC ${support_sources})
  target_include_directories(vorsal_testsupport PUBLIC ${PROJECT_SOURCE_DIR}/tests ${PROJECT_SOURCE_DIR})
  target_link_libraries(vorsal_testsupport PUBLIC vorsal_protocol vorsal_serial GTest::gtest GTest::gmock)
  add_library(vorsal_gtest_main_core STATIC tests/support/gtest_main_core.cpp)
  target_link_libraries(vorsal_gtest_main_core PUBLIC GTest::gtest)

  # The suites that run under Wine. Left out: the serial port, simulator,
  # command-line and modem-line suites (they drive pseudo-terminals), the
  # port list's (a fake sysfs tree and setenv), the allocation counter's
  # (aligned_alloc, which Windows' C library lacks), and the file suites
  # that check POSIX owners, modes and descriptors (the file layer's own
  # suite, tests/platform/files_test.cpp, runs on both systems).
  set(windows_suites
    protocol/exchange_supervision protocol/frame protocol/key_transfer_rule protocol/receive_assembly protocol/receive_fuzz
    keys/cp1251 keys/gost_hash keys/gost_loops keys/hex_utils
    app/help_file app/version_info
    sim/modem_model sim/sim_args
    production/journal_record
    platform/files
    window/port_failure window/production_options)
  foreach(suite ${windows_suites})
    get_filename_component(folder ${suite} DIRECTORY)
    get_filename_component(name ${suite} NAME)
    add_executable(${name}_test tests/${suite}_test.cpp)
    target_link_libraries(${name}_test PRIVATE vorsal_testsupport vorsal_gtest_main_core vorsal_${folder})
    add_test(NAME ${name}_test COMMAND ${name}_test)
    set_tests_properties(${name}_test PROPERTIES LABELS windows TIMEOUT 300)
  endforeach()
  target_link_libraries(files_test PRIVATE vorsal_keys)
  # The version reader's suite reads the resource of a real executable.
  target_compile_definitions(version_info_test PRIVATE VORSAL_EXE="$<TARGET_FILE:vorsal-cli>"
    VORSAL_WINDOW_EXE="$<TARGET_FILE:vorsal>" VORSAL_KEY_TOOL_EXE="$<TARGET_FILE:vorsal-key>")
  # The guide's suite reads the sources (a compiler cache may make __FILE__ relative).
  target_compile_definitions(help_file_test PRIVATE VORSAL_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  # The simulator's switches and the window's options are checked against their manual pages.
  target_compile_definitions(sim_args_test PRIVATE VORSAL_SIM_MAN_PAGE="${PROJECT_SOURCE_DIR}/dist/man/vorsal-modem-sim.1")
  target_compile_definitions(production_options_test PRIVATE VORSAL_WINDOW_MAN_PAGE="${PROJECT_SOURCE_DIR}/dist/man/vorsal.1")

  # The serial device against the simulator's COM port (cli_e2e.sh runs
  # it; ctest has no simulator).
  add_executable(serial_device_test tests/windows/serial_device_test.cpp)
  target_link_libraries(serial_device_test PRIVATE vorsal_platform vorsal_protocol vorsal_gtest_main_core GTest::gtest)

  # Drives vorsal.exe by window messages in the window's end-to-end run.
  add_executable(window_driver tests/windows/window_driver.cpp)
  target_link_libraries(window_driver PRIVATE vorsal_platform shell32 comctl32)
  # Walks the installer's pages in its end-to-end run.
  add_executable(dialog_probe tests/windows/dialog_probe.cpp)
  target_link_libraries(dialog_probe PRIVATE vorsal_platform shell32)
endif()
