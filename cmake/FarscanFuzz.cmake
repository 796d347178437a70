# libFuzzer targets. They are built only in a clang build with FARSCAN_FUZZ=ON (scripts/fuzz.sh
# makes one in build-fuzz); there every source is instrumented for coverage and the targets link
# the fuzzer's driver. Each target is also a CTest test labelled "fuzz" that runs it for a short,
# bounded time on its committed seed corpus.
#
#   farscan_add_fuzzer(<name> SOURCES <files> LIBS <targets> CORPUS <seed folder>)
#
# The seed folder is committed and only read; inputs the fuzzer finds go to the build folder.
# An input that once crashed a target belongs in its seed folder, so it is replayed every run.

set(FARSCAN_FUZZ_SECONDS 20 CACHE STRING "Seconds each fuzz target runs in the test run")

if(FARSCAN_FUZZ AND NOT TARGET fuzzers)
  add_custom_target(fuzzers)
endif()

function(farscan_add_fuzzer name)
  cmake_parse_arguments(arg "" "CORPUS" "SOURCES;LIBS" ${ARGN})
  if(NOT FARSCAN_FUZZ)
    return()
  endif()
  if(NOT arg_CORPUS OR NOT IS_DIRECTORY ${arg_CORPUS})
    message(FATAL_ERROR "fuzz target ${name}: seed corpus folder '${arg_CORPUS}' missing")
  endif()
  set(target fuzz_${name})
  add_executable(${target} ${arg_SOURCES})
  target_link_libraries(${target} PRIVATE ${arg_LIBS})
  target_link_options(${target} PRIVATE -fsanitize=fuzzer)
  add_dependencies(fuzzers ${target})
  add_test(NAME ${target}
           COMMAND ${PROJECT_SOURCE_DIR}/scripts/run-fuzzer.sh $<TARGET_FILE:${target}>
                   ${FARSCAN_FUZZ_SECONDS} ${arg_CORPUS} ${CMAKE_BINARY_DIR}/fuzz/${name})
  set_tests_properties(${target} PROPERTIES LABELS fuzz ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()
