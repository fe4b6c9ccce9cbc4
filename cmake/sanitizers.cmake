# Sanitizer and coverage instrumentation apply to every target of the build.
if(UDM_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
if(UDM_COVERAGE)
  add_compile_options(--coverage -O0)
  add_link_options(--coverage)
endif()
