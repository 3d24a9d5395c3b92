# The core's unit tests built with the Windows toolchain and run under Wine, so
# that the golden checksums of the land, the view tables, the sky and the
# frames are checked against the Windows compiler and C runtime too.
#
#   build/<preset>/core-tests/base_tests.exe, land_tests.exe, sky_tests.exe,
#                              view_tests.exe, app_tests.exe
#   ctest -L wine (mingw64)    test wine_core_tests: tests/win32/run-core-tests.sh
#
# GoogleTest is built from Debian's sources (package googletest). The app
# tests leave out the headless renderer's tests, which need libpng; the
# threaded tests (*ThreadsTest.cpp) run natively, under ThreadSanitizer.
set(GLIDESCAPE_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
if(NOT EXISTS ${GLIDESCAPE_GTEST_SOURCE_DIR}/CMakeLists.txt)
  message(WARNING "No GoogleTest sources in ${GLIDESCAPE_GTEST_SOURCE_DIR}: "
                  "the core tests under Wine are not built (scripts/deps.sh installs them)")
  return()
endif()

set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
add_subdirectory(${GLIDESCAPE_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# Debian's MinGW-w64 "win32" thread flavour has no std::mutex: a customisation
# header replaces the one GoogleTest class that needs it.
target_include_directories(gtest BEFORE PUBLIC ${CMAKE_SOURCE_DIR}/tests/win32/gtest-custom)

set(GLIDESCAPE_CORE_TEST_DIR ${CMAKE_BINARY_DIR}/core-tests)
set(GLIDESCAPE_CORE_TEST_EXES)
function(glidescape_wine_test_binary name folder)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/${folder}/*.cpp)
  list(FILTER sources EXCLUDE REGEX "(ThreadsTest|DocsTest)\\.cpp$")
  add_executable(${name} ${sources})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${GLIDESCAPE_CORE_TEST_DIR})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARGN} gtest gtest_main)
  target_link_options(${name} PRIVATE -static -static-libgcc -static-libstdc++)
  glidescape_target_flags(${name})
  set(GLIDESCAPE_CORE_TEST_EXES ${GLIDESCAPE_CORE_TEST_EXES} $<TARGET_FILE:${name}> PARENT_SCOPE)
endfunction()

glidescape_wine_test_binary(base_tests base glidescape_base)
glidescape_wine_test_binary(land_tests land glidescape_land)
glidescape_wine_test_binary(sky_tests sky glidescape_sky)
glidescape_wine_test_binary(view_tests view glidescape_view)
glidescape_wine_test_binary(app_tests app glidescape_app)

add_test(NAME wine_core_tests
         COMMAND bash ${CMAKE_SOURCE_DIR}/tests/win32/run-core-tests.sh
                 ${CMAKE_BINARY_DIR}/wine-artifacts/core-tests ${GLIDESCAPE_CORE_TEST_EXES})
set_tests_properties(wine_core_tests PROPERTIES LABELS wine TIMEOUT 600)
