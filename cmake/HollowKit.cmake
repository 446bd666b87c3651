# hollowkit_library(<name> [DEPS ...]): one static library per folder, built from
# every .cpp under it (its linux/ or x11/ backends included).
function(hollowkit_library name)
  cmake_parse_arguments(ARG "" "" "DEPS;PRIVATE_DEPS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(sources)
    add_library(hollowkit_${name} STATIC ${sources})
    target_include_directories(hollowkit_${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(hollowkit_${name} PUBLIC ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
  else()
    # Headers only (so far).
    add_library(hollowkit_${name} INTERFACE)
    target_include_directories(hollowkit_${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(hollowkit_${name} INTERFACE ${ARG_DEPS} ${ARG_PRIVATE_DEPS})
  endif()
  add_library(hollowkit::${name} ALIAS hollowkit_${name})
endfunction()

# hollowkit_tests(<name> [DEPS ...]): one test binary per folder of tests/,
# made of every *_test.cpp under it; each test becomes a CTest case.
function(hollowkit_tests name)
  cmake_parse_arguments(ARG "" "" "DEPS;LABELS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name}_tests ${sources})
  target_link_libraries(${name}_tests PRIVATE ${ARG_DEPS} hollowkit_test_main)
  include(GoogleTest)
  gtest_discover_tests(${name}_tests
    PROPERTIES LABELS "${name};${ARG_LABELS}"
    DISCOVERY_TIMEOUT 60)
endfunction()
