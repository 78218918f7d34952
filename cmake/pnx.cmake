# Small helpers shared by the folders' CMakeLists.

# The .cpp files of the given folders for this platform: a name ending in "_win.cpp" builds only for
# Windows, one ending in "_posix.cpp" only elsewhere.
function(pnx_platform_sources out)
  set(result)
  foreach(dir ${ARGN})
    file(GLOB found CONFIGURE_DEPENDS ${dir}/*.cpp)
    foreach(f ${found})
      if(f MATCHES "_win\\.cpp$" AND NOT WIN32)
        continue()
      endif()
      if(f MATCHES "_posix\\.cpp$" AND WIN32)
        continue()
      endif()
      list(APPEND result ${f})
    endforeach()
  endforeach()
  list(SORT result)
  set(${out} ${result} PARENT_SCOPE)
endfunction()

# A static library from the given folders' sources.
function(pnx_library name)
  cmake_parse_arguments(ARG "" "" "DIRS;DEPS" ${ARGN})
  pnx_platform_sources(sources ${ARG_DIRS})
  add_library(${name} STATIC ${sources})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# One GoogleTest executable; its cases are registered with CTest one by one.
function(pnx_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endfunction()
