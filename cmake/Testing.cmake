include(GoogleTest)

# orvalo_add_test(<name> SOURCES ... LIBS ... [LABELS ...])
# One GoogleTest program; each test case becomes its own CTest test so that
# `ctest -j` spreads them. Label "threads" marks tests that ThreadSanitizer
# runs; label "lab" marks tests that need network namespaces (root).
function(orvalo_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  # Discovered tests keep only one label, so the labels are joined into one
  # ("lab-threads"); `ctest -L` matches a regular expression, so -L threads
  # and -L lab both find it.
  list(JOIN T_LABELS "-" labels)
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES LABELS "${labels}" TIMEOUT 300)
endfunction()

# orvalo_add_fuzzer(<name> SOURCES ... LIBS ...)
# A libFuzzer target, built only with ORVALO_FUZZ; CTest runs it briefly over
# its seeds so that CI exercises it.
function(orvalo_add_fuzzer name)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT ORVALO_FUZZ)
    return()
  endif()
  add_executable(${name} ${F_SOURCES})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  add_test(NAME ${name} COMMAND ${name} -runs=20000 -max_len=2048 -seed=1)
  set_tests_properties(${name} PROPERTIES LABELS "fuzz" TIMEOUT 300)
endfunction()
