# Where `cmake --install` and the Debian package put the agent, and how the package is made
# (CPack, component "runtime": the package "quillby-agent"; InstallDevelopment.cmake adds the
# component "dev": the package "quillby-agent-dev").

set(AGENT_PACKAGE_NAME quillby-agent)
set(AGENT_VERSION 5.3.1)
set(AGENT_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/${AGENT_PACKAGE_NAME})

# The programs are installed stripped. agentctl is signed again after stripping, since its
# signature covers every byte (with the build's signing identity; docs/security.md says how to
# sign with a real one).
set(staged ${CMAKE_BINARY_DIR}/package/bin)
add_custom_command(OUTPUT ${staged}/com.quillby.Lumora5.Agent ${staged}/agent-codesign
                          ${staged}/agentctl
  COMMAND ${CMAKE_COMMAND} -E make_directory ${staged}
  COMMAND strip --strip-all -o ${staged}/com.quillby.Lumora5.Agent
          $<TARGET_FILE:com.quillby.Lumora5.Agent>
  COMMAND strip --strip-all -o ${staged}/agent-codesign $<TARGET_FILE:agent-codesign>
  COMMAND strip --strip-all -o ${staged}/agentctl
          ${CMAKE_BINARY_DIR}/tools/agentctl/agentctl-unsigned
  COMMAND $<TARGET_FILE:agent-codesign> --identifier com.quillby.Lumora5
          --key ${CMAKE_BINARY_DIR}/pki/client.key --cert ${CMAKE_BINARY_DIR}/pki/client.pem
          ${staged}/agentctl
  DEPENDS com.quillby.Lumora5.Agent agent-codesign agentctl VERBATIM)
add_custom_target(agent_staged_programs ALL
  DEPENDS ${staged}/com.quillby.Lumora5.Agent ${staged}/agent-codesign ${staged}/agentctl)

# The agent runs only from the helper-tools folder, whatever the prefix.
install(PROGRAMS ${staged}/com.quillby.Lumora5.Agent
  DESTINATION /Library/PrivilegedHelperTools COMPONENT runtime)
# agentctl is made set-group-ID to the clients' group by the package's postinst (the group does
# not exist when the package is built).
install(PROGRAMS ${staged}/agentctl ${staged}/agent-codesign
  DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
install(FILES resources/com.quillby.Lumora5.Agent.service resources/com.quillby.Lumora5.Agent.socket
  DESTINATION /lib/systemd/system COMPONENT runtime)
# The trust anchors: root's own, empty until the administrator adds the CA that signs clients.
install(DIRECTORY DESTINATION /etc/quillby-agent/anchors
  DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                        WORLD_READ WORLD_EXECUTE
  COMPONENT runtime)

# Manual pages, compressed as the distribution expects.
set(man_pages agentctl.1 agent-codesign.1 com.quillby.Lumora5.Agent.8)
foreach(page ${man_pages})
  string(REGEX REPLACE ".*\\.([0-9])$" "\\1" section ${page})
  set(compressed ${CMAKE_BINARY_DIR}/man/${page}.gz)
  add_custom_command(OUTPUT ${compressed}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/docs/man/${page} > ${compressed}
    DEPENDS ${PROJECT_SOURCE_DIR}/docs/man/${page} VERBATIM)
  list(APPEND compressed_pages ${compressed})
  install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT runtime)
endforeach()

# The documentation, with the files every Debian package carries.
set(changelog ${CMAKE_BINARY_DIR}/package/changelog.Debian.gz)
add_custom_command(OUTPUT ${changelog}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/package
  COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/resources/debian/changelog > ${changelog}
  DEPENDS ${PROJECT_SOURCE_DIR}/resources/debian/changelog VERBATIM)
add_custom_target(agent_package_files ALL DEPENDS ${compressed_pages} ${changelog})
install(FILES resources/debian/copyright ${changelog} DESTINATION ${AGENT_DOC_DIR}
  COMPONENT runtime)
install(FILES README.md docs/archive.md docs/errors.md docs/lipo.md docs/mends.md
              docs/security.md docs/tasks.md docs/threads.md docs/transport.md
  DESTINATION ${AGENT_DOC_DIR} COMPONENT runtime)
install(FILES resources/debian/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
  RENAME ${AGENT_PACKAGE_NAME} COMPONENT runtime)

include(cmake/InstallDevelopment.cmake)

set(CPACK_GENERATOR DEB)
set(CPACK_COMPONENTS_ALL runtime dev)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_PACKAGE_VERSION ${AGENT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_PACKAGE_CONTACT "Agent maintainers <agent@quillby.invalid>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_COMPRESSION_TYPE gzip)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${AGENT_PACKAGE_NAME})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "adduser, passwd")
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "privileged helper agent for signed clients
A root daemon that serves signed client programs over a local socket. It
checks each client's code signature and identity at the handshake, then
removes files, launch jobs and logs, thins universal binaries and runs
maintenance tasks on their behalf, with every request in an audit trail.
Includes agentctl, its command-line client, and the signing tool.")
configure_file(resources/debian/postinst.in ${CMAKE_BINARY_DIR}/package/postinst @ONLY
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
                   WORLD_EXECUTE)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA
  ${CMAKE_BINARY_DIR}/package/postinst
  ${PROJECT_SOURCE_DIR}/resources/debian/prerm
  ${PROJECT_SOURCE_DIR}/resources/debian/postrm)
include(CPack)
