# Sanitizer and coverage instrumentation apply to every target of the build.
if(UDM_SANITIZE AND WIN32)
  message(FATAL_ERROR "UDM_SANITIZE is for the native build; the MinGW toolchain has no ASan runtime")
endif()
if(UDM_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  # Out-of-range indexing of standard containers (back() of an empty string,
  # say) stops the run too; UBSan alone sees it only as pointer arithmetic.
  add_compile_definitions(_GLIBCXX_ASSERTIONS)
  add_link_options(-fsanitize=address,undefined)
endif()
if(UDM_COVERAGE)
  add_compile_options(--coverage -O0)
  add_link_options(--coverage)
endif()
if(UDM_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "UDM_FUZZ needs clang (libFuzzer)")
  endif()
  # Coverage feedback from every library the fuzz targets reach, the
  # dlopened plug-in included; only the targets link libFuzzer itself.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
