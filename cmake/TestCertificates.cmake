# The test certificate authority of the HTTPS tests and the demo, made in the build tree (build/<arch>/tls) by
# cmake/test-certificates on the first build. The Wine prefix trusts its root (cmake/wine-prefix); nginx, started
# by the tests and the demo, serves its server certificates.
set(TELEMETRY_TLS_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/test-certificates)
set(TELEMETRY_TLS_DIR ${CMAKE_BINARY_DIR}/tls)

add_custom_command(OUTPUT ${TELEMETRY_TLS_DIR}/root.der
  COMMAND ${TELEMETRY_TLS_SCRIPT} ${TELEMETRY_TLS_DIR}
  DEPENDS ${TELEMETRY_TLS_SCRIPT}
  COMMENT "Making the test certificate authority"
  VERBATIM)
add_custom_target(telemetry_test_tls DEPENDS ${TELEMETRY_TLS_DIR}/root.der)
