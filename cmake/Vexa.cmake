# vexa_add_test(NAME SOURCES src... [LIBS lib...] [CONCURRENCY] [WINDOWS] [TIMEOUT s])
# CONCURRENCY marks a test that the ThreadSanitizer run executes (ctest -L concurrency).
# WINDOWS marks a test that also builds for Windows and runs there (under Wine here); the
# others need what only the Linux build has (FFmpeg, nginx, the DLNA clients).
function(vexa_add_test name)
  cmake_parse_arguments(T "CONCURRENCY;WINDOWS" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(WIN32 AND NOT T_WINDOWS)
    # Declared but never built, so that the folder's further settings of the test still apply.
    add_executable(${name} EXCLUDE_FROM_ALL ${T_SOURCES})
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  target_compile_definitions(${name} PRIVATE
    VEXA_BINARY_DIR="${PROJECT_BINARY_DIR}" VEXA_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  # One label only: a list would be split into separate properties by test discovery.
  set(labels unit)
  if(T_CONCURRENCY)
    set(labels concurrency)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
    PROPERTIES LABELS "${labels}" TIMEOUT ${T_TIMEOUT})
endfunction()
find_package(Threads REQUIRED)

# vexa_system_sources(TARGET NAME.cpp...): the operating system's form of each source, the
# POSIX one beside the CMakeLists or the Windows one in its win32/ folder, chosen at build time.
# Both share the header beside the POSIX source.
function(vexa_system_sources target)
  foreach(source ${ARGN})
    if(WIN32)
      target_sources(${target} PRIVATE win32/${source})
    else()
      target_sources(${target} PRIVATE ${source})
    endif()
  endforeach()
endfunction()

# Adds every direct subfolder of the current folder that has a CMakeLists.txt, in name order.
function(vexa_add_subdirectories)
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child ${children})
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child} AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()
