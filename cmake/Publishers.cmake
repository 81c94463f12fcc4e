# Development code-signing publishers, made in the build tree (build/<arch>/publishers) by cmake/publishers on
# the first build; nothing signed or secret is committed. The Wine prefix trusts their root (cmake/wine-prefix).
set(TELEMETRY_PUBLISHERS_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/publishers)
set(TELEMETRY_PUBLISHERS_DIR ${CMAKE_BINARY_DIR}/publishers)
set(TELEMETRY_PUBLISHERS_ROOT ${TELEMETRY_PUBLISHERS_DIR}/root.der)

find_program(OSSLSIGNCODE osslsigncode REQUIRED)
find_program(OPENSSL openssl REQUIRED)

add_custom_command(OUTPUT ${TELEMETRY_PUBLISHERS_ROOT}
  COMMAND ${TELEMETRY_PUBLISHERS_SCRIPT} make ${TELEMETRY_PUBLISHERS_DIR}
  DEPENDS ${TELEMETRY_PUBLISHERS_SCRIPT}
  COMMENT "Making the development publishers' certificates"
  VERBATIM)
add_custom_target(telemetry_publishers DEPENDS ${TELEMETRY_PUBLISHERS_ROOT})

# telemetry_sign(target PUBLISHER key): signs the target's output after every link with the development
# certificate `key` (trevane, korvo, korvo-nodot; near misses and others: see cmake/publishers).
function(telemetry_sign target)
  cmake_parse_arguments(S "" "PUBLISHER" "" ${ARGN})
  if(NOT S_PUBLISHER)
    message(FATAL_ERROR "telemetry_sign(${target}): PUBLISHER missing")
  endif()
  add_dependencies(${target} telemetry_publishers)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${TELEMETRY_PUBLISHERS_SCRIPT} sign ${TELEMETRY_PUBLISHERS_DIR} ${S_PUBLISHER} $<TARGET_FILE:${target}>
    VERBATIM)
endfunction()
