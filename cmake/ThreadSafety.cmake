# Clang's thread-safety analysis over the lock annotations of
# hollowkit/base/thread_annotations.h. The probe first proves the annotations
# are live: a guarded write under its lock must compile and one without it
# must not, or the build would pass while checking nothing.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "HOLLOWKIT_THREAD_SAFETY needs clang (CMAKE_CXX_COMPILER=clang++)")
endif()

include(CheckCXXSourceCompiles)
set(CMAKE_REQUIRED_FLAGS "-std=c++20 -Wthread-safety -Werror")
set(CMAKE_REQUIRED_INCLUDES ${PROJECT_SOURCE_DIR})
set(probe_head "
#include \"hollowkit/base/mutex.h\"
struct Counter {
  hollowkit::Mutex mutex;
  int value HK_GUARDED_BY(mutex) = 0;
};")
check_cxx_source_compiles("${probe_head}
int main() { Counter c; hollowkit::MutexLock lock(c.mutex); c.value = 1; return c.value; }"
  HOLLOWKIT_GUARDED_WRITE_COMPILES)
check_cxx_source_compiles("${probe_head}
int main() { Counter c; c.value = 1; return 0; }"
  HOLLOWKIT_UNGUARDED_WRITE_COMPILES)
if(NOT HOLLOWKIT_GUARDED_WRITE_COMPILES OR HOLLOWKIT_UNGUARDED_WRITE_COMPILES)
  message(FATAL_ERROR "the thread-safety analysis does not see hollowkit's lock annotations")
endif()

add_compile_options(-Wthread-safety)
