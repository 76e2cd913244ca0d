# SQLite for the MinGW builds, which Debian has no package of: the amalgamation
# that `make deps-cross` unpacks into the folder the Makefile names and passes
# here. Linux builds use Debian's libsqlite3 instead.
include_guard(GLOBAL)

set(ZARVO_SQLITE_DIR "" CACHE PATH "Folder with the SQLite amalgamation, sqlite3.c and sqlite3.h")

if(EXISTS ${ZARVO_SQLITE_DIR}/sqlite3.c AND EXISTS ${ZARVO_SQLITE_DIR}/sqlite3.h)
  # Built only when something links it.
  add_library(zarvo_sqlite STATIC EXCLUDE_FROM_ALL ${ZARVO_SQLITE_DIR}/sqlite3.c)
  target_include_directories(zarvo_sqlite SYSTEM PUBLIC ${ZARVO_SQLITE_DIR})
  # Third-party code: its own warnings are not ours to fix. The journal writes
  # a row a delivery, so -O1 serves it as well as -O3, in a third of the time.
  set_source_files_properties(${ZARVO_SQLITE_DIR}/sqlite3.c PROPERTIES COMPILE_OPTIONS
                              "-w;-Wno-error;-O1")
  # Debian's defaults otherwise, so that the journal behaves alike on both
  # systems; no loadable extensions, which nothing here uses.
  target_compile_definitions(zarvo_sqlite PRIVATE SQLITE_THREADSAFE=1 SQLITE_OMIT_LOAD_EXTENSION)
  # The name Linux builds get from find_package(SQLite3).
  if(NOT TARGET SQLite::SQLite3)
    add_library(SQLite::SQLite3 ALIAS zarvo_sqlite)
  endif()
elseif(ZARVO_BUILD_TOOLS)
  message(FATAL_ERROR "No SQLite amalgamation in '${ZARVO_SQLITE_DIR}': build through "
                      "make windows, or run make deps-cross and pass its -DZARVO_SQLITE_DIR")
else()
  message(STATUS "No SQLite amalgamation in '${ZARVO_SQLITE_DIR}' "
                 "(only the Windows reference host needs it)")
endif()
