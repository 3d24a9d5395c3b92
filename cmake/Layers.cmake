# The core's layers and the rule that dependencies only run downward.
#
#   base   thread pool, checked scratch allocation, portable math, units,
#          saturating conversions
#   land   the land generator and its passes             (uses base)
#   sky    sky texture, airborne objects, autopilot      (uses base)
#   view   the flight view and its renderer              (uses sky, base)
#
# Each layer is a static library that links only the layers below it, so a
# call that runs back up fails the link. Headers need no link, so at
# configure time glidescape_check_layer_includes reads every #include line of
# a folder and stops with FATAL_ERROR on
#   - a quoted include outside the folder itself and the folders it USES
#     (every quoted include names its folder: "base/Units.h"), and
#   - an angle-bracket include that is not a C++ standard library header
#     (a bare name such as <vector> or <cstdint>): <windows.h>, <X11/Xlib.h>,
#     <unistd.h>, <emscripten.h> and the like are platform headers.
# EXCLUDE takes a regular expression of file paths (relative to the folder)
# that are not checked, for a folder whose platform files live beside its
# portable ones. The front-end kit app/ is checked too (in the top
# CMakeLists.txt): it may include the core, never a front end such as win32/,
# x11/, web/ or render/, nor a platform header.
function(glidescape_check_layer_includes folder)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "EXCLUDE" "USES")
  set(allowed ${folder} ${ARG_USES})
  file(GLOB_RECURSE files CONFIGURE_DEPENDS
       RELATIVE ${PROJECT_SOURCE_DIR}/${folder}
       ${PROJECT_SOURCE_DIR}/${folder}/*.h ${PROJECT_SOURCE_DIR}/${folder}/*.cpp)
  set(problems "")
  foreach(file IN LISTS files)
    if(ARG_EXCLUDE AND file MATCHES "${ARG_EXCLUDE}")
      continue()
    endif()
    set(path ${PROJECT_SOURCE_DIR}/${folder}/${file})
    # Re-run the check (configure) when the file changes.
    set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${path})
    file(STRINGS ${path} lines REGEX "^[ \t]*#[ \t]*include")
    foreach(line IN LISTS lines)
      if(line MATCHES "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\"")
        set(header ${CMAKE_MATCH_1})
        string(REGEX MATCH "^[^/]+/" top "${header}")
        string(REGEX REPLACE "/$" "" top "${top}")
        if(NOT top OR NOT top IN_LIST allowed)
          list(APPEND problems "${folder}/${file}: #include \"${header}\" (${folder}/ may include only ${allowed})")
        endif()
      elseif(line MATCHES "^[ \t]*#[ \t]*include[ \t]*<([^>]*)>")
        set(header ${CMAKE_MATCH_1})
        if(NOT header MATCHES "^[a-z_]+$")
          list(APPEND problems "${folder}/${file}: #include <${header}> (not a C++ standard library header)")
        endif()
      else()
        list(APPEND problems "${folder}/${file}: unreadable include: ${line}")
      endif()
    endforeach()
  endforeach()
  if(problems)
    list(JOIN problems "\n  " text)
    message(FATAL_ERROR "Includes that run against the layers:\n  ${text}")
  endif()
endfunction()

glidescape_check_layer_includes(base)
glidescape_check_layer_includes(land USES base)
glidescape_check_layer_includes(sky USES base)
glidescape_check_layer_includes(view USES sky base)

# glidescape_layer(name USES layers...): the static library glidescape_<name>
# of the folder's sources, linking the libraries of the layers it uses.
function(glidescape_layer name)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "" "USES")
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${name}/*.cpp)
  add_library(glidescape_${name} STATIC ${sources})
  target_include_directories(glidescape_${name} PUBLIC ${PROJECT_SOURCE_DIR})
  foreach(used IN LISTS ARG_USES)
    target_link_libraries(glidescape_${name} PUBLIC glidescape_${used})
  endforeach()
  glidescape_target_flags(glidescape_${name})
endfunction()

glidescape_layer(base)
# The thread pool (base/ThreadPool.h) runs on std::thread (the web page is
# built without threads: its pools have one).
if(NOT EMSCRIPTEN)
  find_package(Threads REQUIRED)
  target_link_libraries(glidescape_base PUBLIC Threads::Threads)
endif()
glidescape_layer(land USES base)
glidescape_layer(sky USES base)
glidescape_layer(view USES sky base)
