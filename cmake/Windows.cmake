# Glidescape.scr: the Win32 screen saver (win32/: the screen-saver host and
# the saver application on the portable frame loop), cross-built with
# MinGW-w64, and its test suite under Wine (64-bit only).
#
#   build/<preset>/Glidescape.scr          the saver, static runtime, GUI subsystem
#   build/mingw64/wine-test/               the Wine harness and the test password DLLs
#   ctest -L wine (mingw64)                the suite: tests/win32/wine-suite.sh (with its
#                                          start/close cycles on their own),
#                                          tests/win32/wine-monitors.sh (two monitors), both
#                                          again at 144 DPI (label dpi), and the core's unit
#                                          tests (CoreTestsWine.cmake)
enable_language(RC)

set(GLIDESCAPE_WIN32_DIR ${CMAKE_SOURCE_DIR}/win32)
# The screen-saver framework: start-up, modes, the window procedure chain and
# the closing rules. It reaches the saver only through SaverEntryPoints.
add_library(glidescape_win32_host STATIC ${GLIDESCAPE_WIN32_DIR}/Host.cpp
            ${GLIDESCAPE_WIN32_DIR}/HostWindowProc.cpp)
target_include_directories(glidescape_win32_host PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(glidescape_win32_host PUBLIC glidescape_win32_logic)
glidescape_target_flags(glidescape_win32_host)

# The resources build apart: the C++ warning flags mean nothing to windres.
set(GLIDESCAPE_RESOURCE_DIR ${GLIDESCAPE_WIN32_DIR}/resources)
add_library(glidescape_resources OBJECT ${GLIDESCAPE_RESOURCE_DIR}/Glidescape.rc)
target_include_directories(glidescape_resources PRIVATE ${GLIDESCAPE_RESOURCE_DIR}
                           ${GLIDESCAPE_GENERATED_DIR}/app)
set_property(SOURCE ${GLIDESCAPE_RESOURCE_DIR}/Glidescape.rc APPEND PROPERTY OBJECT_DEPENDS
             ${GLIDESCAPE_RESOURCE_DIR}/Glidescape.ico ${GLIDESCAPE_RESOURCE_DIR}/Glidescape.manifest
             ${GLIDESCAPE_RESOURCE_DIR}/resource.h)

# The saver application: its window procedure on the portable frame loop, the
# dialog, the settings store and the entry that registers them with the host.
add_executable(Glidescape WIN32 ${GLIDESCAPE_WIN32_DIR}/SaverMain.cpp
               ${GLIDESCAPE_WIN32_DIR}/SaverWindow.cpp ${GLIDESCAPE_WIN32_DIR}/RefreshClock.cpp
               ${GLIDESCAPE_WIN32_DIR}/PowerWatch.cpp ${GLIDESCAPE_WIN32_DIR}/ConfigDialog.cpp
               ${GLIDESCAPE_WIN32_DIR}/SettingsStore.cpp $<TARGET_OBJECTS:glidescape_resources>)
set_target_properties(Glidescape PROPERTIES OUTPUT_NAME Glidescape SUFFIX .scr
                      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
target_include_directories(Glidescape PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(Glidescape PRIVATE glidescape_app glidescape_win32_host winmm shell32)
target_link_options(Glidescape PRIVATE -static -static-libgcc -static-libstdc++ -mwindows)
glidescape_target_flags(Glidescape)

if(CMAKE_SIZEOF_VOID_P EQUAL 8 AND GLIDESCAPE_TESTS)
  set(GLIDESCAPE_WINE_TEST_DIR ${CMAKE_BINARY_DIR}/wine-test)

  # Drives the saver from inside Wine: starts it, reads full exit codes,
  # finds and inspects its windows and the dialog's controls.
  add_executable(glidescape_wine_harness ${CMAKE_SOURCE_DIR}/tests/win32/Harness.cpp)
  set_target_properties(glidescape_wine_harness PROPERTIES
                        OUTPUT_NAME harness RUNTIME_OUTPUT_DIRECTORY ${GLIDESCAPE_WINE_TEST_DIR})

  # Stand-ins for the legacy platform's password components; they record
  # their calls in the file named by GLIDESCAPE_TEST_LOG.
  add_library(glidescape_test_password SHARED ${CMAKE_SOURCE_DIR}/tests/win32/TestPasswordCpl.cpp)
  set_target_properties(glidescape_test_password PROPERTIES
                        PREFIX "" OUTPUT_NAME PASSWORD SUFFIX .CPL
                        RUNTIME_OUTPUT_DIRECTORY ${GLIDESCAPE_WINE_TEST_DIR})
  add_library(glidescape_test_mpr SHARED ${CMAKE_SOURCE_DIR}/tests/win32/TestMpr.cpp)
  set_target_properties(glidescape_test_mpr PROPERTIES
                        PREFIX "" OUTPUT_NAME MPR SUFFIX .DLL
                        RUNTIME_OUTPUT_DIRECTORY ${GLIDESCAPE_WINE_TEST_DIR})
  foreach(target glidescape_wine_harness glidescape_test_password glidescape_test_mpr)
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
    glidescape_target_flags(${target})
  endforeach()

  # The native renderer the preview's picture is compared with (the default
  # preset builds it; scripts/test.sh builds that first).
  set(GLIDESCAPE_RENDER_UNDER_TEST ${CMAKE_SOURCE_DIR}/build/default/render/glidescape-render
      CACHE FILEPATH "The native glidescape-render the Wine suite compares the preview with")

  enable_testing()
  add_test(NAME wine_saver
           COMMAND bash ${CMAKE_SOURCE_DIR}/tests/win32/wine-suite.sh
                   $<TARGET_FILE:Glidescape> $<TARGET_FILE:glidescape_wine_harness>
                   $<TARGET_FILE:glidescape_test_password> $<TARGET_FILE:glidescape_test_mpr>
                   ${CMAKE_BINARY_DIR}/wine-artifacts)
  set_tests_properties(wine_saver PROPERTIES LABELS wine TIMEOUT 900
                       ENVIRONMENT GLIDESCAPE_RENDER=${GLIDESCAPE_RENDER_UNDER_TEST})
  # The same on a screen of 144 DPI (150 %): windows and pictures in pixels,
  # the dialog scaled and still readable (the pacing, which the DPI does not
  # touch, once at 96 DPI is enough).
  add_test(NAME wine_saver_144dpi
           COMMAND bash ${CMAKE_SOURCE_DIR}/tests/win32/wine-suite.sh
                   $<TARGET_FILE:Glidescape> $<TARGET_FILE:glidescape_wine_harness>
                   $<TARGET_FILE:glidescape_test_password> $<TARGET_FILE:glidescape_test_mpr>
                   ${CMAKE_BINARY_DIR}/wine-artifacts/144dpi
                   cmdline fullscreen preview dialog legacy shift)
  set_tests_properties(wine_saver_144dpi PROPERTIES LABELS "wine;dpi" TIMEOUT 900
                       ENVIRONMENT "GLIDESCAPE_RENDER=${GLIDESCAPE_RENDER_UNDER_TEST};GLIDESCAPE_WINE_DPI=144")
  # Fifty lives of the full-screen saver and fifty of the preview in a row.
  add_test(NAME wine_cycles
           COMMAND bash ${CMAKE_SOURCE_DIR}/tests/win32/wine-suite.sh
                   $<TARGET_FILE:Glidescape> $<TARGET_FILE:glidescape_wine_harness>
                   $<TARGET_FILE:glidescape_test_password> $<TARGET_FILE:glidescape_test_mpr>
                   ${CMAKE_BINARY_DIR}/wine-cycles-artifacts cycles)
  set_tests_properties(wine_cycles PROPERTIES LABELS wine TIMEOUT 1500)

  # Two monitors side by side (Xephyr inside a private Xvfb): a flight on
  # each, the primary only, one across both, and the dialog's list.
  add_test(NAME wine_monitors
           COMMAND bash ${CMAKE_SOURCE_DIR}/tests/win32/wine-monitors.sh
                   $<TARGET_FILE:Glidescape> $<TARGET_FILE:glidescape_wine_harness>
                   ${CMAKE_BINARY_DIR}/wine-artifacts/monitors)
  set_tests_properties(wine_monitors PROPERTIES LABELS "wine;monitors" TIMEOUT 600)
  add_test(NAME wine_monitors_144dpi
           COMMAND bash ${CMAKE_SOURCE_DIR}/tests/win32/wine-monitors.sh
                   $<TARGET_FILE:Glidescape> $<TARGET_FILE:glidescape_wine_harness>
                   ${CMAKE_BINARY_DIR}/wine-artifacts/monitors-144dpi)
  set_tests_properties(wine_monitors_144dpi PROPERTIES LABELS "wine;monitors;dpi" TIMEOUT 600
                       ENVIRONMENT GLIDESCAPE_WINE_DPI=144)

  # The resources and imports of the built file, read back with windres and
  # objdump (no Wine needed; labelled with the Windows suite so that the
  # Windows test run includes it).
  find_program(GLIDESCAPE_OBJDUMP NAMES ${GLIDESCAPE_MINGW_PREFIX}-objdump REQUIRED)
  add_test(NAME saver_resources
           COMMAND bash ${CMAKE_SOURCE_DIR}/tests/win32/check-resources.sh
                   $<TARGET_FILE:Glidescape> ${CMAKE_RC_COMPILER} ${GLIDESCAPE_OBJDUMP}
                   ${CMAKE_SOURCE_DIR}/tests/win32/expected-dialog.rc ${PROJECT_VERSION})
  set_tests_properties(saver_resources PROPERTIES LABELS "wine;resources" TIMEOUT 60)

  # The installer that scripts/package.sh builds, in its 64-bit form.
  set(GLIDESCAPE_INSTALLER_UNDER_TEST
      ${CMAKE_SOURCE_DIR}/build/packages/test/Glidescape-${PROJECT_VERSION}-setup-amd64.exe
      CACHE FILEPATH "The 64-bit installer the Wine installer test runs")
  add_test(NAME wine_installer
           COMMAND bash ${CMAKE_SOURCE_DIR}/tests/win32/wine-installer.sh
                   ${GLIDESCAPE_INSTALLER_UNDER_TEST} ${PROJECT_VERSION}
                   ${CMAKE_BINARY_DIR}/wine-artifacts/installer)
  set_tests_properties(wine_installer PROPERTIES LABELS "wine;installer" TIMEOUT 300)
  # The same installer while the installed saver runs (preview and full
  # screen): replaced and removed at the restart, exit code 3010.
  add_test(NAME wine_installer_in_use
           COMMAND bash ${CMAKE_SOURCE_DIR}/tests/win32/wine-installer-in-use.sh
                   ${GLIDESCAPE_INSTALLER_UNDER_TEST} ${PROJECT_VERSION}
                   ${CMAKE_BINARY_DIR}/wine-artifacts/installer-in-use
                   $<TARGET_FILE:glidescape_wine_harness>)
  set_tests_properties(wine_installer_in_use PROPERTIES LABELS "wine;installer" TIMEOUT 300)

  include(${CMAKE_SOURCE_DIR}/cmake/CoreTestsWine.cmake)

  # Every Wine test copies one prefix booted once per build (see
  # tests/win32/wine-prefix.sh) instead of booting its own.
  set_property(TEST wine_saver wine_saver_144dpi wine_cycles wine_monitors wine_monitors_144dpi
               wine_installer wine_installer_in_use wine_core_tests
               APPEND PROPERTY ENVIRONMENT GLIDESCAPE_WINE_TEMPLATE=${CMAKE_BINARY_DIR}/wine-template)
endif()
