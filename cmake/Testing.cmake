# GoogleTest for both trees. The native tree uses Debian's packaged library; the Windows tree builds
# Debian's googletest sources with the cross compiler. Windows test executables run under Wine through
# CMAKE_CROSSCOMPILING_EMULATOR; each executable is one CTest entry there, since discovering the tests
# would start Wine once more per executable at build time.
if(WIN32)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set(ZT_GTEST_MAIN GTest::gtest_main GTest::gmock)
  if(NOT TARGET GTest::gtest_main)
    set(ZT_GTEST_MAIN gtest_main gmock)
  endif()
else()
  find_package(GTest REQUIRED)
  set(ZT_GTEST_MAIN GTest::gtest_main GTest::gmock)
  include(GoogleTest)
endif()

# zt_add_test(<name> SOURCES ... LIBS ... [GUI])
# GUI tests need a display. One Wine prefix has one desktop, and it lives on the display of whichever
# program started it first, so every Wine program of a run must share one display: `make test-win`
# runs CTest inside a single xvfb-run, and wine-run.sh starts one only when no display is there.
# GUI tests take turns, because windows of two tests on one desktop steal each other's focus.
# DEVICE_LOCK marks a test that takes the recorder's system-wide device lock (the programs under test
# do, and so do tests of the command layer): two at once would find it held by the other and wait or
# fail. Every GUI test counts as one, since the updaters it starts take the lock.
function(zt_add_test name)
  cmake_parse_arguments(T "GUI;DEVICE_LOCK" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} ${ZT_GTEST_MAIN})
  if(WIN32)
    if(T_GUI)
      add_test(NAME ${name} COMMAND ${ZT_WINE_RUN} $<TARGET_FILE:${name}>)
      set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "wine_desktop;device_lock")
    else()
      add_test(NAME ${name} COMMAND ${name})
      if(T_DEVICE_LOCK)
        set_tests_properties(${name} PROPERTIES RESOURCE_LOCK device_lock)
      endif()
    endif()
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
  endif()
endfunction()
