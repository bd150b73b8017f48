# The environment every test process runs in, the same on every machine and
# at every run (tests/CMakeLists.txt and bench/CMakeLists.txt use it):
# - a home folder of the build's own, emptied before each ctest run, with
#   the per-user folders derived from it (the XDG variables unset), so no
#   test writes into the real home and none reads what the machine's user or
#   an earlier run left there;
# - the software rasteriser, without its shader cache on disk (what it holds
#   depends on what ran before), drawing on the calling thread: by default it
#   starts a worker per core, so the work would differ between machines, and
#   the workers still run while the leak checker stops the process at exit.
#
# quild_test_environment(<fixture> <home>) adds the test that empties <home>
# as the setup of <fixture> and sets QUILD_TEST_ENVIRONMENT, a list for a
# test's ENVIRONMENT_MODIFICATION, in the caller's scope.
function(quild_test_environment fixture home)
  add_test(NAME ${fixture} COMMAND sh -c "rm -rf \"$0\" && mkdir -p \"$0\"" ${home})
  set_tests_properties(${fixture} PROPERTIES FIXTURES_SETUP ${fixture})
  set(QUILD_TEST_ENVIRONMENT
    HOME=set:${home}
    XDG_CONFIG_HOME=unset:
    XDG_CACHE_HOME=unset:
    XDG_DATA_HOME=unset:
    XDG_STATE_HOME=unset:
    XDG_DOCUMENTS_DIR=unset:
    SDL_VIDEODRIVER=set:offscreen
    SDL_AUDIODRIVER=set:dummy
    LIBGL_ALWAYS_SOFTWARE=set:true
    GALLIUM_DRIVER=set:llvmpipe
    MESA_SHADER_CACHE_DISABLE=set:true
    LP_NUM_THREADS=set:0
    PARENT_SCOPE)
endfunction()

# Gives the tests the environment and the fixture.
function(quild_hermetic_tests fixture)
  set_tests_properties(${ARGN} PROPERTIES ENVIRONMENT_MODIFICATION "${QUILD_TEST_ENVIRONMENT}"
    FIXTURES_REQUIRED ${fixture})
endfunction()
