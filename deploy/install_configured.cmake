# Run by "cmake --install" (see CMakeLists.txt, which sets the QLOK_*
# variables): configures the web server snippets, the systemd units and the
# tmpfiles rule with the paths of this install, and installs them.
set(prefix "${CMAKE_INSTALL_PREFIX}")
set(QLOK_CGI_DIR "${prefix}/${QLOK_CGI_INSTALL_DIR}")
set(QLOK_WEB_DIR "${prefix}/${QLOK_DATA_INSTALL_DIR}/q_lok/web")
set(QLOK_SNIPPET_DIR "${prefix}/${QLOK_DATA_INSTALL_DIR}/q_lok/web-servers")
set(QLOK_DOC_DIR "${prefix}/${QLOK_DOC_INSTALL_DIR}")
set(QLOK_BIN_DIR "${prefix}/${QLOK_BIN_INSTALL_DIR}")

foreach(server lighttpd apache nginx)
  configure_file(${QLOK_SOURCE}/web-servers/${server}.conf.in
                 ${QLOK_STAGE}/web-servers/${server}.conf @ONLY)
endforeach()
foreach(unit notify outbox)
  configure_file(${QLOK_SOURCE}/systemd/q_lok-${unit}.service.in
                 ${QLOK_STAGE}/systemd/q_lok-${unit}.service @ONLY)
endforeach()
configure_file(${QLOK_SOURCE}/systemd/q_lok.tmpfiles.in
               ${QLOK_STAGE}/tmpfiles/q_lok.conf @ONLY)

file(INSTALL ${QLOK_STAGE}/web-servers/lighttpd.conf
             ${QLOK_STAGE}/web-servers/apache.conf
             ${QLOK_STAGE}/web-servers/nginx.conf
     DESTINATION "${QLOK_SNIPPET_DIR}")
file(INSTALL ${QLOK_STAGE}/systemd/q_lok-notify.service
             ${QLOK_SOURCE}/systemd/q_lok-notify.timer
             ${QLOK_STAGE}/systemd/q_lok-outbox.service
             ${QLOK_SOURCE}/systemd/q_lok-outbox.timer
     DESTINATION "${prefix}/lib/systemd/system")
file(INSTALL ${QLOK_STAGE}/tmpfiles/q_lok.conf
     DESTINATION "${prefix}/lib/tmpfiles.d")
