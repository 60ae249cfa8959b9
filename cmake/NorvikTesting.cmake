# GoogleTest from the Debian source package, built with the same compiler and
# sanitizers as the code under test.
macro(norvik_setup_gtest)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  include(GoogleTest)
endmacro()

# norvik_add_test(name SOURCES ... [LIBS ...] [LABELS ...] [RESOURCE_LOCK ...]
#                  [OWN_PROCESS suite])
# Natively every case becomes its own CTest test; under Wine one executable is
# one CTest test, since each Wine start costs time. The cases of an
# OWN_PROCESS suite need a process of their own (process-wide state that no
# other case may have touched), so under Wine they get a second CTest test.
function(norvik_add_test name)
  cmake_parse_arguments(T "" "OWN_PROCESS" "SOURCES;LIBS;LABELS;RESOURCE_LOCK" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} gmock gtest_main)
  if(CMAKE_CROSSCOMPILING)
    set(tests ${name})
    if(T_OWN_PROCESS)
      add_test(NAME ${name} COMMAND ${name} --gtest_color=no --gtest_filter=-${T_OWN_PROCESS}.*)
      add_test(NAME ${name}_${T_OWN_PROCESS} COMMAND ${name} --gtest_color=no --gtest_filter=${T_OWN_PROCESS}.*)
      list(APPEND tests ${name}_${T_OWN_PROCESS})
    else()
      add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
    endif()
    set_tests_properties(${tests} PROPERTIES LABELS "windows;${T_LABELS}" TIMEOUT 300)
    if(T_RESOURCE_LOCK)
      set_tests_properties(${tests} PROPERTIES RESOURCE_LOCK "${T_RESOURCE_LOCK}")
    endif()
  else()
    # One label only: a list does not survive the discovery script. Natively
    # the one that matters is "thread" (the TSan build runs those).
    set(label native)
    if("thread" IN_LIST T_LABELS)
      set(label thread)
    endif()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
                         PROPERTIES LABELS ${label} TIMEOUT 120)
  endif()
endfunction()
