# Deliberately broken builds of our own plug-in, one fault each, selected by
# one compile definition; the checker must fail each on the check named here.
# On Windows (included from tests/check_windows) they are DLLs that
# scripts/windows-host.sh checks with udmhost.exe under Wine.
option(UDM_BROKEN_VARIANTS "Build broken variants of the plug-in and test the checker on them" ON)
if(NOT UDM_BROKEN_VARIANTS)
  return()
endif()

# The plug-in's own sources, gathered from its targets so that the variants
# follow every change of the real build.
function(udm_absolute_sources target out)
  get_target_property(sources ${target} SOURCES)
  get_target_property(dir ${target} SOURCE_DIR)
  set(result)
  foreach(source IN LISTS sources)
    if(source MATCHES "\\.(c|cc|cpp)$")
      if(IS_ABSOLUTE "${source}")
        list(APPEND result "${source}")
      else()
        list(APPEND result "${dir}/${source}")
      endif()
    endif()
  endforeach()
  set(${out} ${result} PARENT_SCOPE)
endfunction()

set(udm_variant_targets vcswitch vcswitch_phases vcswitch_model vcswitch_catalogue)
set(udm_variant_sources)
foreach(target IN LISTS udm_variant_targets)
  udm_absolute_sources(${target} sources)
  list(APPEND udm_variant_sources ${sources})
endforeach()

# The project's own headers, by name, for following #include "..." lines.
file(GLOB udm_variant_headers ${PROJECT_SOURCE_DIR}/plugin/*.h ${PROJECT_SOURCE_DIR}/model/*.h
     ${PROJECT_SOURCE_DIR}/abi/*.h)

# The text of a source and of every project header it includes, transitively:
# a fault switched on in a header changes every source that includes it.
function(udm_translation_text file out)
  set(seen "${file}")
  set(queue "${file}")
  set(text "")
  while(queue)
    list(POP_FRONT queue current)
    file(READ "${current}" content)
    string(APPEND text "${content}")
    string(REGEX MATCHALL "#include \"[^\"]+\"" includes "${content}")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "#include \"([^\"]+)\"" "\\1" name "${line}")
      foreach(header IN LISTS udm_variant_headers)
        get_filename_component(base "${header}" NAME)
        if(base STREQUAL name AND NOT header IN_LIST seen)
          list(APPEND seen "${header}")
          list(APPEND queue "${header}")
        endif()
      endforeach()
    endforeach()
  endwhile()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Compile flags of every part of a variant, broken or not.
function(udm_variant_flags target)
  target_compile_definitions(${target} PRIVATE UDM_BUILDING_PLUGIN ${ARGN})
  foreach(t IN LISTS udm_variant_targets)
    target_include_directories(${target} PRIVATE $<TARGET_PROPERTY:${t},INCLUDE_DIRECTORIES>)
  endforeach()
  target_link_libraries(${target} PRIVATE vcswitch_interface udmplatform ${CMAKE_DL_LIBS})
  if(NOT WIN32)
    # Windows compiles the resource script into the DLL alone (below): in
    # every object library it would be linked in once per part.
    target_link_libraries(${target} PRIVATE vcswitch_resources)
  endif()
  set_target_properties(${target} PROPERTIES CXX_VISIBILITY_PRESET hidden)
  target_compile_options(${target} PRIVATE -w)  # a fault on purpose may draw a warning
endfunction()

# Each source is compiled once unbroken; a variant recompiles only the sources
# whose text (headers included) names its fault, and links the rest.
set(udm_variant_parts)
foreach(source IN LISTS udm_variant_sources)
  get_filename_component(stem "${source}" NAME_WE)
  set(part vcswitch_variant_part_${stem})
  add_library(${part} OBJECT EXCLUDE_FROM_ALL "${source}")
  udm_variant_flags(${part})
  udm_translation_text("${source}" text)
  string(MD5 key "${source}")
  set(udm_text_${key} "${text}")
  set(udm_part_${key} ${part})
endforeach()

# DEFINITION|check that must fail
set(udm_broken_variants
  "UDM_BREAK_UNLOCK_ORDER|every call unlocks what it locked, in reverse order"
  "UDM_BREAK_ERROR_PATH_LOCK|null and unlockable handles give their status, change nothing and leave every lock balanced"
  "UDM_BREAK_UNKNOWN_MODE|an unknown mode returns 0 and changes nothing"
  "UDM_BREAK_RELEASE_TWICE|release twice is harmless"
  "UDM_BREAK_ACCEPT_NEEDS_BLOCKS|accept needs neither vector nor matrix block"
  "UDM_BREAK_REJECTED_STEP|a rejected step replayed gives the stamp of a fresh evaluation"
  "UDM_BREAK_STAMP_ADDED|the stamp is written, not added"
  "UDM_BREAK_STAMP_SKIPPED|repeated evaluation with the same inputs gives the same stamp"
  "UDM_BREAK_TEXT_KEPT|the definition text is copied, not kept"
  "UDM_BREAK_TEXT_CHANGED|mode 1 changes the definition text only by splitting it at commas"
  "UDM_BREAK_LEAK|no allocation outlives a life cycle"
  "UDM_BREAK_SIGNED_OFFSETS|offsets of 32768 and more work like small ones"
  "UDM_BREAK_SELECTOR|output selectors NaN, infinite, 2^31 and more, 2^32 and more are harmless"
  "UDM_BREAK_ID_ROUNDED|non-integer expression identifiers are truncated toward zero"
  "UDM_BREAK_REGISTRATION_ORDER|expressions are registered in parameter order"
  "UDM_BREAK_LOCALE|a decimal-comma locale changes nothing"
  "UDM_BREAK_DESCRIPTION_UTF8|descriptions are Windows-1252 text (no UTF-8 sequences)"
  "UDM_BREAK_FIELD_COUNTER|70,000 fields and a 1 MB text neither corrupt the instance nor take super-linear time"
  "UDM_BREAK_GLOBAL_STATE|instances are independent: nothing of one lives in library-wide state"
  "UDM_BREAK_KEEPS_ADDRESS|the plug-in keeps no address of a block from one call to the next"
  "UDM_BREAK_BLOCK_SIZE|calls write the instance block only within its registered size and the component record only in mode 1"
  "UDM_BREAK_PARSER_LEAK|no allocation outlives a life cycle"
  "UDM_BREAK_TRAILING_BLANKS|blanks around a parameter value take time linear in their number"
  "UDM_BREAK_PARAMETER_INDEX|a parameter read as an output gives the value it was defined with"
  "UDM_BREAK_NAME_PREFIX|each output name resolves to an index of its own, and no other name resolves"
  "UDM_BREAK_STAMP_SIGN|stamps are finite and balanced: each column and the right-hand side sum to zero"
  "UDM_BREAK_ZERO_RESISTANCE|stamps are finite and balanced: each column and the right-hand side sum to zero"
  "UDM_BREAK_TIME_MEMO|an evaluation follows its own node values, not an earlier iteration at the same time"
  # Laws of this model, beyond a generic checker: only the fingerprint sees them.
  "UDM_BREAK_OPENING_THRESHOLD|behaviour matches the recorded fingerprint"
  "UDM_BREAK_MEGA|behaviour matches the recorded fingerprint"
  "UDM_BREAK_HYSTERESIS_INVERTED|behaviour matches the recorded fingerprint"
  "UDM_BREAK_WRONG_NODES|behaviour matches the recorded fingerprint"
  "UDM_BREAK_DERIVATIVE_OFFSET|behaviour matches the recorded fingerprint")

set(udm_variant_table "")
set(udm_variant_modules)
foreach(entry IN LISTS udm_broken_variants)
  string(FIND "${entry}" "|" bar)
  string(SUBSTRING "${entry}" 0 ${bar} definition)
  math(EXPR after "${bar} + 1")
  string(SUBSTRING "${entry}" ${after} -1 check)
  string(TOLOWER "${definition}" lower)
  string(REPLACE "udm_break_" "vcswitch_broken_" name "${lower}")
  set(rebuilt)
  set(linked)
  foreach(source IN LISTS udm_variant_sources)
    string(MD5 key "${source}")
    string(REGEX MATCH "${definition}([^A-Za-z0-9_]|$)" hit "${udm_text_${key}}")
    if(hit)
      list(APPEND rebuilt "${source}")
    else()
      list(APPEND linked "$<TARGET_OBJECTS:${udm_part_${key}}>")
    endif()
  endforeach()
  if(NOT rebuilt)
    message(FATAL_ERROR "no source of the plug-in names ${definition}")
  endif()
  add_library(${name} MODULE EXCLUDE_FROM_ALL ${rebuilt} ${linked})
  udm_variant_flags(${name} ${definition})
  if(WIN32)
    # As vcswitch.dll is linked: its exports, its resources, no runtime DLLs.
    target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/plugin/vcswitch.def)
    target_link_libraries(${name} PRIVATE vcswitch_resources)
    target_link_options(${name} PRIVATE -static -static-libgcc -static-libstdc++)
    set_target_properties(${name} PROPERTIES PREFIX "")
  else()
    set_target_properties(${name} PROPERTIES BUILD_RPATH "$<TARGET_FILE_DIR:udmplatform>")
  endif()
  list(APPEND udm_variant_modules ${name})
  if(WIN32)
    string(APPEND udm_variant_table "$<TARGET_FILE_NAME:${name}>|${definition}|${check}\n")
  else()
    string(APPEND udm_variant_table "{\"${definition}\", \"$<TARGET_FILE:${name}>\", \"${check}\"},\n")
  endif()
endforeach()

if(WIN32)
  # DLL|definition|check that must fail, one a line, for scripts/windows-host.sh.
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/broken_variants.txt CONTENT "${udm_variant_table}")
  add_custom_target(broken_variant_dlls ALL DEPENDS ${udm_variant_modules})
  return()
endif()

file(GENERATE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/broken_variants.inc CONTENT "${udm_variant_table}")
udm_add_test(broken_variant_tests broken_variants_test.cpp LIBS udmhost_check)
target_include_directories(broken_variant_tests PRIVATE ${CMAKE_CURRENT_BINARY_DIR})
add_dependencies(broken_variant_tests ${udm_variant_modules})
