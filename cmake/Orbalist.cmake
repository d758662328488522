# Helpers shared by the CMake files of the tree.

function(orbalist_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
endfunction()

# orbalist_library(<folder> [SUBDIRS folders...] [EXCLUDE files...] [DEPS targets...])
# Builds src/<folder>/*.cpp and those of the named sub-folders (no others, so a
# sub-folder holding a program of its own stays out) into the static library
# orb_<folder>. A folder with no sources yet becomes an interface library, so
# dependents link.
function(orbalist_library folder)
  cmake_parse_arguments(ARG "" "" "SUBDIRS;EXCLUDE;DEPS" ${ARGN})
  set(dir ${CMAKE_SOURCE_DIR}/src/${folder})
  set(patterns ${dir}/*.cpp ${dir}/*.h ${dir}/*.c)
  foreach(sub ${ARG_SUBDIRS})
    list(APPEND patterns ${dir}/${sub}/*.cpp ${dir}/${sub}/*.h ${dir}/${sub}/*.c)
  endforeach()
  file(GLOB sources CONFIGURE_DEPENDS ${patterns})
  foreach(ex ${ARG_EXCLUDE})
    list(REMOVE_ITEM sources ${dir}/${ex})
  endforeach()
  set(has_cpp FALSE)
  foreach(s ${sources})
    if(s MATCHES "\\.(cpp|c)$")
      set(has_cpp TRUE)
    endif()
  endforeach()
  file(GLOB qrc CONFIGURE_DEPENDS ${dir}/*.qrc)
  if(has_cpp)
    add_library(orb_${folder} STATIC ${sources} ${qrc})
    target_include_directories(orb_${folder} PUBLIC ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(orb_${folder} PUBLIC ${ARG_DEPS})
    orbalist_warnings(orb_${folder})
  else()
    add_library(orb_${folder} INTERFACE)
    target_include_directories(orb_${folder} INTERFACE ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(orb_${folder} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# orbalist_tests(<area>): tests/<area>/*.cpp, sub-folders included, become the
# test program test_<area>, each GoogleTest case registered with CTest.
# tests/support holds shared test code. Each case has a time limit: the window
# tests (app, widgets, theme) one of their own, well below the others' and
# still many times the slowest of them under sanitizers on a loaded machine,
# so that one that hangs is stopped soon.
function(orbalist_tests area)
  if(area STREQUAL "app" OR area STREQUAL "widgets" OR area STREQUAL "theme")
    set(timeout 120)
  else()
    set(timeout 300)
  endif()
  set(dir ${CMAKE_SOURCE_DIR}/tests/${area})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(test_${area} ${sources})
  target_link_libraries(test_${area} PRIVATE orb_${area} orb_app orb_testsupport GTest::gtest GTest::gmock)
  target_include_directories(test_${area} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  target_compile_definitions(test_${area} PRIVATE
    ORB_SOURCE_DIR="${CMAKE_SOURCE_DIR}" ORB_BINARY_DIR="${CMAKE_BINARY_DIR}")
  orbalist_warnings(test_${area})
  # One variable a property: the discovered tests' properties are a flat list,
  # where a second variable in ENVIRONMENT is taken for a property name of its
  # own and drops itself and the time limit after it.
  gtest_discover_tests(test_${area}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
               ENVIRONMENT_MODIFICATION "ASAN_OPTIONS=set:detect_leaks=0"
               TIMEOUT ${timeout})
endfunction()
