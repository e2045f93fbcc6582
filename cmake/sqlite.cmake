# SQLite from its amalgamation, for builds without a system SQLite (the
# 32-bit Windows build).  scripts/fetch-sqlite.sh puts sqlite3.c and
# sqlite3.h into the build tree once (pinned version, checked hashes); they
# are compiled into a static library with the same SQLite::SQLite3 name the
# native build's find_package gives, and SQLite3_FOUND is set when it worked.
set(GANDREL_SQLITE_SOURCE_DIR "${CMAKE_BINARY_DIR}/sqlite-amalgamation" CACHE PATH
    "Folder holding sqlite3.c and sqlite3.h (fetched when missing)")
execute_process(
  COMMAND bash "${CMAKE_SOURCE_DIR}/scripts/fetch-sqlite.sh" "${GANDREL_SQLITE_SOURCE_DIR}"
  RESULT_VARIABLE fetched)
if(NOT fetched EQUAL 0 OR NOT EXISTS "${GANDREL_SQLITE_SOURCE_DIR}/sqlite3.c")
  message(STATUS "SQLite amalgamation not available: no SQLite writer in this build")
  return()
endif()
add_library(sqlite3_amalgamation STATIC "${GANDREL_SQLITE_SOURCE_DIR}/sqlite3.c")
target_include_directories(sqlite3_amalgamation SYSTEM PUBLIC "${GANDREL_SQLITE_SOURCE_DIR}")
# One thread writes the database; no extensions are loaded.
target_compile_definitions(sqlite3_amalgamation PRIVATE SQLITE_THREADSAFE=0
                           SQLITE_OMIT_LOAD_EXTENSION SQLITE_DEFAULT_MEMSTATUS=0)
# Not our code: its warnings are not ours to fix.
target_compile_options(sqlite3_amalgamation PRIVATE -w)
if(WIN32)
  # SQLite calls GetTickCount64, which Windows has from Vista (0x0600) on;
  # the rest of the programs keep the XP API level.
  target_compile_options(sqlite3_amalgamation PRIVATE -U_WIN32_WINNT -D_WIN32_WINNT=0x0600
                         -UWINVER -DWINVER=0x0600)
endif()
add_library(SQLite::SQLite3 ALIAS sqlite3_amalgamation)
set(SQLite3_FOUND TRUE)
message(STATUS "SQLite: amalgamation in ${GANDREL_SQLITE_SOURCE_DIR}")
