# folder_library(<prefix> <name> [DEPS ...] [PRIVATE_DEPS ...]): one static
# library per folder, built from every .cpp under it (its linux/ or x11/
# backends included), named <prefix>::<name>.
function(folder_library prefix name)
  cmake_parse_arguments(ARG "" "" "DEPS;PRIVATE_DEPS" ${ARGN})
  set(target ${prefix}_${name})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(sources)
    add_library(${target} STATIC ${sources})
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${target} PUBLIC ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
  else()
    # Headers only (so far).
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${target} INTERFACE ${ARG_DEPS} ${ARG_PRIVATE_DEPS})
  endif()
  add_library(${prefix}::${name} ALIAS ${target})
endfunction()

# hollowkit_library(<name> ...): a folder of the library (hollowkit::<name>).
function(hollowkit_library name)
  folder_library(hollowkit ${name} ${ARGN})
endfunction()

# lumenhollow_library(<name> ...): a folder of the application (lumenhollow::<name>).
function(lumenhollow_library name)
  folder_library(lumenhollow ${name} ${ARGN})
endfunction()

# hollowkit_tests(<name> [DEPS ...] [EXCLUDE_DIRS ...]): one test binary per
# folder of tests/, made of every *_test.cpp under it except in the named
# subfolders (which build their own); each test becomes a CTest case.
function(hollowkit_tests name)
  cmake_parse_arguments(ARG "" "" "DEPS;LABELS;EXCLUDE_DIRS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  foreach(dir ${ARG_EXCLUDE_DIRS})
    list(FILTER sources EXCLUDE REGEX "^${CMAKE_CURRENT_SOURCE_DIR}/${dir}/")
  endforeach()
  if(NOT sources)
    return()
  endif()
  add_executable(${name}_tests ${sources})
  target_link_libraries(${name}_tests PRIVATE ${ARG_DEPS} hollowkit_test_main)
  include(GoogleTest)
  # NO_PRETTY_VALUES: a parameter's printout (object bytes, pointers) would
  # otherwise become part of the case's name and change from build to build.
  gtest_discover_tests(${name}_tests
    PROPERTIES LABELS "${name};${ARG_LABELS}"
    NO_PRETTY_VALUES
    DISCOVERY_TIMEOUT 60)
endfunction()
