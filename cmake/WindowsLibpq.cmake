# libpq.dll and the DLLs it needs, for the 64-bit Windows programs, taken
# from the npm registry's build of PostgreSQL for Windows (x64): its version
# is pinned and the archive checked by its SHA-256. The archive is kept in
# the build tree, so a configured tree never fetches it again. The DLLs are
# copied beside the programs (bin/), where the programs load them, the
# suites under Wine find them and the zip and the installer take them.
set(VORSAL_LIBPQ_PACKAGE_VERSION 17.10.0-beta.17)
set(VORSAL_LIBPQ_SHA256 262161722259e884ec238d9dfb163fec84b9f474649e207238af97b7fcdf62f7)
set(VORSAL_LIBPQ_URL
  "https://registry.npmjs.org/@embedded-postgres/windows-x64/-/windows-x64-${VORSAL_LIBPQ_PACKAGE_VERSION}.tgz")
set(VORSAL_LIBPQ_ARCHIVE "${CMAKE_BINARY_DIR}/_deps/postgresql-windows-x64-${VORSAL_LIBPQ_PACKAGE_VERSION}.tgz"
  CACHE FILEPATH "The PostgreSQL Windows archive that holds libpq.dll (fetched when missing)")
# libpq.dll's own DLLs besides the system's and the Visual C++ runtime.
set(VORSAL_LIBPQ_DLLS libpq.dll libssl-3-x64.dll libcrypto-3-x64.dll libintl-9.dll libiconv-2.dll
    libwinpthread-1.dll)

set(archive_ok FALSE)
if(EXISTS "${VORSAL_LIBPQ_ARCHIVE}")
  file(SHA256 "${VORSAL_LIBPQ_ARCHIVE}" archive_hash)
  if(archive_hash STREQUAL VORSAL_LIBPQ_SHA256)
    set(archive_ok TRUE)
  endif()
endif()
if(NOT archive_ok)
  message(STATUS "Fetching libpq for Windows: ${VORSAL_LIBPQ_URL}")
  file(DOWNLOAD "${VORSAL_LIBPQ_URL}" "${VORSAL_LIBPQ_ARCHIVE}" EXPECTED_HASH SHA256=${VORSAL_LIBPQ_SHA256}
       STATUS fetched TLS_VERIFY ON)
  list(GET fetched 0 fetch_code)
  if(NOT fetch_code EQUAL 0)
    list(GET fetched 1 fetch_reason)
    message(FATAL_ERROR "libpq for Windows could not be fetched (${fetch_reason}): put the archive at "
            "VORSAL_LIBPQ_ARCHIVE, or configure with -DVORSAL_WITH_REGISTRY=OFF")
  endif()
endif()

set(libpq_dir "${CMAKE_BINARY_DIR}/_deps/libpq-${VORSAL_LIBPQ_PACKAGE_VERSION}")
set(patterns)
set(extract FALSE)
foreach(dll ${VORSAL_LIBPQ_DLLS})
  list(APPEND patterns "package/native/bin/${dll}")
  if(NOT EXISTS "${libpq_dir}/package/native/bin/${dll}")
    set(extract TRUE)
  endif()
endforeach()
if(extract)
  file(ARCHIVE_EXTRACT INPUT "${VORSAL_LIBPQ_ARCHIVE}" DESTINATION "${libpq_dir}" PATTERNS ${patterns})
endif()
set(VORSAL_LIBPQ_FILES)
foreach(dll ${VORSAL_LIBPQ_DLLS})
  if(NOT EXISTS "${libpq_dir}/package/native/bin/${dll}")
    message(FATAL_ERROR "${VORSAL_LIBPQ_ARCHIVE} has no ${dll}")
  endif()
  file(COPY "${libpq_dir}/package/native/bin/${dll}" DESTINATION "${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")
  list(APPEND VORSAL_LIBPQ_FILES "${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${dll}")
endforeach()
# The list the zip and the installer read.
string(REPLACE ";" "\n" libpq_list "${VORSAL_LIBPQ_DLLS}")
file(WRITE "${CMAKE_BINARY_DIR}/libpq-dlls.txt" "${libpq_list}\n")
