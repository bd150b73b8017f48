# Read by ctest (a test include file of the bench folder): lists the
# benchmarks of the program and registers one test per benchmark that runs
# it alone, a few iterations, so no benchmark depends on set-up left by
# another and none crashes when its own set-up fails; and one test that runs
# the whole program in a random order, twice over, so none is harmed by
# what another made, freed or left of the GL state. A frame that draws
# nothing ends its benchmark with an error, which fails the test.
# Set by bench/CMakeLists.txt: BENCH_EXE, BENCH_LABEL, BENCH_FIXTURE (the
# setup that empties their home) and BENCH_ENVIRONMENT (the tests' own).
if(NOT EXISTS "${BENCH_EXE}")
  add_test(bench_program_built "${CMAKE_COMMAND}" -E false)
  return()
endif()
execute_process(COMMAND "${BENCH_EXE}" --benchmark_list_tests=true
  OUTPUT_VARIABLE _list RESULT_VARIABLE _rc ERROR_QUIET TIMEOUT 60)
if(NOT _rc EQUAL 0)
  add_test(bench_list "${CMAKE_COMMAND}" -E false)
  return()
endif()
string(REPLACE "\n" ";" _list "${_list}")
foreach(_name IN LISTS _list)
  if(_name STREQUAL "")
    continue()
  endif()
  # The benchmark's exact name as the filter: its regex characters escaped.
  string(REGEX REPLACE "([][.+*?()^$|\\\\{}])" "\\\\\\1" _re "${_name}")
  add_test("bench:${_name}" "${BENCH_EXE}" "--benchmark_filter=^${_re}$" --benchmark_min_time=0.001
    --benchmark_repetitions=1)
  set_tests_properties("bench:${_name}" PROPERTIES LABELS "${BENCH_LABEL}"
    ENVIRONMENT_MODIFICATION "${BENCH_ENVIRONMENT}" FIXTURES_REQUIRED ${BENCH_FIXTURE}
    # A benchmark whose own set-up fails says so; alone it must not. A name
    # the filter does not find would pass without running anything.
    FAIL_REGULAR_EXPRESSION "ERROR OCCURRED|Failed to match any benchmarks"
    TIMEOUT 300)
endforeach()

add_test(bench:interleaved "${BENCH_EXE}" --benchmark_enable_random_interleaving=true --benchmark_repetitions=2
  --benchmark_min_time=0.001)
set_tests_properties(bench:interleaved PROPERTIES LABELS "${BENCH_LABEL}"
  ENVIRONMENT_MODIFICATION "${BENCH_ENVIRONMENT}" FIXTURES_REQUIRED ${BENCH_FIXTURE}
  FAIL_REGULAR_EXPRESSION "ERROR OCCURRED"
  # The longest test: started first, beside the others.
  COST 100000
  TIMEOUT 1200)
