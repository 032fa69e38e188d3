# kv_add_test(<name> SOURCES <files...> [LIBS <targets...>] [ENV <VAR=value...>] [LABELS <labels...>]
#             [LOCK <resource>] [SERIAL] [FIXTURES <fixtures...>] [PROPERTIES <name value...>])
#   LOCK: cases holding the same resource never run at the same time
#   SERIAL: each case runs alone (for cases that need the keyboard focus or the
#           foreground window, which any other test's window may take away)
#   FIXTURES: ctest fixtures every case requires
#   PROPERTIES: further test properties of every case (FAIL_REGULAR_EXPRESSION, ...)
# Builds a GoogleTest executable and registers its cases with ctest. Under the
# cross build the cases are discovered and run through Wine at test time, never
# during the build.
include(GoogleTest)
set(KV_FUZZ_SEEDS_DIR ${PROJECT_SOURCE_DIR}/tests/fuzz/seeds)
# The seeds folder as a test program sees it (under Wine through drive Z:).
if(CMAKE_CROSSCOMPILING)
  set(KV_FUZZ_SEEDS_DEFINE "Z:${KV_FUZZ_SEEDS_DIR}")
else()
  set(KV_FUZZ_SEEDS_DEFINE "${KV_FUZZ_SEEDS_DIR}")
endif()
function(kv_add_test name)
  cmake_parse_arguments(T "SERIAL" "LOCK" "SOURCES;LIBS;ENV;LABELS;FIXTURES;PROPERTIES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock)
  target_compile_features(${name} PRIVATE cxx_std_20)
  set(props "")
  if(T_ENV)
    list(APPEND props ENVIRONMENT "${T_ENV}")
  endif()
  if(T_LABELS)
    list(APPEND props LABELS "${T_LABELS}")
  endif()
  if(T_LOCK)
    list(APPEND props RESOURCE_LOCK "${T_LOCK}")
  endif()
  if(T_SERIAL)
    list(APPEND props RUN_SERIAL TRUE)
  endif()
  if(T_FIXTURES)
    list(APPEND props FIXTURES_REQUIRED "${T_FIXTURES}")
  endif()
  if(T_PROPERTIES)
    list(APPEND props ${T_PROPERTIES})
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    PROPERTIES ${props} TIMEOUT 300)
endfunction()

# kv_add_fuzzer(<name> SOURCES <files...> [LIBS <targets...>])
# libFuzzer target, native clang builds with KV_FUZZ=ON only. Its seeds
# (tests/fuzz/seeds/<name>: sample inputs and every past finding) are replayed
# once by the ctest test <name>_seeds, so a finding stays fixed.
function(kv_add_fuzzer name)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT KV_FUZZ)
    return()
  endif()
  add_executable(${name} ${F_SOURCES})
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set_property(GLOBAL APPEND PROPERTY KV_FUZZERS ${name})
  set(seeds ${KV_FUZZ_SEEDS_DIR}/${name})
  if(KV_BUILD_TESTS AND IS_DIRECTORY ${seeds})
    add_test(NAME ${name}_seeds COMMAND ${name} -runs=0 ${seeds})
    set_tests_properties(${name}_seeds PROPERTIES TIMEOUT 300)
  endif()
endfunction()
