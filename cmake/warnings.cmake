# Warnings on everywhere; errors when asked (CI).
function(udm_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 $<$<BOOL:${UDM_WERROR}>:/WX>)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                             -Wno-sign-conversion $<$<BOOL:${UDM_WERROR}>:-Werror>)
  endif()
endfunction()
