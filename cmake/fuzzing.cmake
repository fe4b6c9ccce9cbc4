# libFuzzer targets (UDM_FUZZ, clang): every fuzzer of the project is made by
# this one function, so all link libFuzzer and build with the same warnings.
#   udm_add_fuzzer(NAME SOURCES... [LIBS libs...])
# Callers ask only with UDM_FUZZ on: the instrumentation of the whole build
# (-fsanitize=fuzzer-no-link) is set by sanitizers.cmake.
function(udm_add_fuzzer name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES} ${ARG_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  udm_warnings(${name})
endfunction()
