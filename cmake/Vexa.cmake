# vexa_add_test(NAME SOURCES src... [LIBS lib...] [CONCURRENCY] [TIMEOUT s])
# CONCURRENCY marks a test that the ThreadSanitizer run executes (ctest -L concurrency).
function(vexa_add_test name)
  cmake_parse_arguments(T "CONCURRENCY" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
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
