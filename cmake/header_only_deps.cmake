# Debian's header-only libraries for the MinGW builds. /usr/include itself must
# not be on their include path, where glibc's headers would shadow MinGW's, so
# each library gets a folder in the build tree holding only a link to its own
# headers. Defines the same targets as the libraries' CMake packages.
include_guard(GLOBAL)

# zarvo_header_only_dep(TARGET FOLDER): TARGET's headers are /usr/include/FOLDER.
function(zarvo_header_only_dep target folder)
  if(TARGET ${target})
    return()
  endif()
  set(source /usr/include/${folder})
  if(NOT IS_DIRECTORY ${source})
    message(FATAL_ERROR "${target}: no ${source} (make deps installs it)")
  endif()
  string(MAKE_C_IDENTIFIER ${target} name)
  set(root ${CMAKE_BINARY_DIR}/header-only/${name})
  file(MAKE_DIRECTORY ${root})
  if(NOT EXISTS ${root}/${folder})
    file(CREATE_LINK ${source} ${root}/${folder} SYMBOLIC)
  endif()
  add_library(${target} INTERFACE IMPORTED GLOBAL)
  target_include_directories(${target} SYSTEM INTERFACE ${root})
endfunction()

zarvo_header_only_dep(CLI11::CLI11 CLI)
if(IS_DIRECTORY /usr/include/nlohmann)
  zarvo_header_only_dep(nlohmann_json::nlohmann_json nlohmann)
endif()
