# The development package (CPack component "dev": the package "quillby-agent-dev") for authors of
# client programs: the client engine and connectable client, the request and response records,
# the keyed-archive codec with the task model (the records and task classes, not the root-only
# services that perform them), their headers, a CMake package (find_package(QuillbyAgent)) and a
# pkg-config file (quillby-agent).
include(CMakePackageConfigHelpers)

set(AGENT_DEV_PACKAGE_NAME ${AGENT_PACKAGE_NAME}-dev)
# Static libraries are architecture-specific: the multiarch folder where the toolchain has one.
if(CMAKE_LIBRARY_ARCHITECTURE)
  set(AGENT_DEV_ARCH_LIB_DIR lib/${CMAKE_LIBRARY_ARCHITECTURE})
else()
  set(AGENT_DEV_ARCH_LIB_DIR ${CMAKE_INSTALL_LIBDIR})
endif()
set(AGENT_DEV_LIB_DIR ${AGENT_DEV_ARCH_LIB_DIR}/${AGENT_PACKAGE_NAME})
set(AGENT_DEV_INCLUDE_DIR ${CMAKE_INSTALL_INCLUDEDIR}/${AGENT_PACKAGE_NAME})
set(AGENT_DEV_CMAKE_DIR ${AGENT_DEV_ARCH_LIB_DIR}/cmake/QuillbyAgent)

# The client's libraries, each after the ones it uses (the order the pkg-config file links).
set(AGENT_CLIENT_LIBRARIES
  ipc_client ipc api tasks_model platform_archive platform_security platform_loader platform_xpc
  platform_reactive platform_dispatch platform_foundation platform_posix)

# QuillbyAgent::client: everything a client program links.
add_library(agent_client_sdk INTERFACE)
set_target_properties(agent_client_sdk PROPERTIES EXPORT_NAME client)
target_link_libraries(agent_client_sdk INTERFACE ipc_client api tasks_model)

install(TARGETS ${AGENT_CLIENT_LIBRARIES} agent_client_sdk EXPORT QuillbyAgentTargets
  ARCHIVE DESTINATION ${AGENT_DEV_LIB_DIR} COMPONENT dev)
# The build's libraries carry debugging information (about 200 MB); the installed ones do not.
install(CODE "
  file(GLOB archives \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${AGENT_DEV_LIB_DIR}/*.a\")
  execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-debug \${archives} COMMAND_ERROR_IS_FATAL ANY)"
  COMPONENT dev)
install(EXPORT QuillbyAgentTargets NAMESPACE QuillbyAgent:: DESTINATION ${AGENT_DEV_CMAKE_DIR}
  COMPONENT dev)

# The headers of those libraries, under the folders they are included by ("ipc/...", and
# "tasks/model/..." for the task model alone).
install(DIRECTORY src/ DESTINATION ${AGENT_DEV_INCLUDE_DIR} COMPONENT dev
  FILES_MATCHING PATTERN "*.h"
  PATTERN "agent" EXCLUDE PATTERN "operations" EXCLUDE PATTERN "lipo" EXCLUDE
  PATTERN "server" EXCLUDE PATTERN "log" EXCLUDE PATTERN "tasks" EXCLUDE
  PATTERN "utilities" EXCLUDE)
install(DIRECTORY src/tasks/model DESTINATION ${AGENT_DEV_INCLUDE_DIR}/tasks COMPONENT dev
  FILES_MATCHING PATTERN "*.h")

configure_package_config_file(cmake/dev/QuillbyAgentConfig.cmake.in
  ${CMAKE_BINARY_DIR}/package/QuillbyAgentConfig.cmake INSTALL_DESTINATION ${AGENT_DEV_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/package/QuillbyAgentConfigVersion.cmake
  VERSION ${AGENT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/package/QuillbyAgentConfig.cmake
              ${CMAKE_BINARY_DIR}/package/QuillbyAgentConfigVersion.cmake
              cmake/dev/QuillbyAgentClientHelpers.cmake
              src/platform/loader/ExecuteHeaderSymbol.cpp
  DESTINATION ${AGENT_DEV_CMAKE_DIR} COMPONENT dev)

# The pkg-config file finds the prefix relative to its own folder, so that an unpacked tree works.
file(RELATIVE_PATH AGENT_PC_PREFIX /${AGENT_DEV_ARCH_LIB_DIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" AGENT_PC_PREFIX "${AGENT_PC_PREFIX}")
list(TRANSFORM AGENT_CLIENT_LIBRARIES PREPEND -l OUTPUT_VARIABLE AGENT_CLIENT_LINK_FLAGS)
list(JOIN AGENT_CLIENT_LINK_FLAGS " " AGENT_CLIENT_LINK_FLAGS)
configure_file(cmake/dev/quillby-agent.pc.in ${CMAKE_BINARY_DIR}/package/quillby-agent.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/package/quillby-agent.pc
  DESTINATION ${AGENT_DEV_ARCH_LIB_DIR}/pkgconfig COMPONENT dev)

install(FILES resources/debian/copyright ${CMAKE_BINARY_DIR}/package/changelog.Debian.gz
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${AGENT_DEV_PACKAGE_NAME} COMPONENT dev)
install(FILES examples/health-client/CMakeLists.txt examples/health-client/main.cpp
              examples/health-client/Info.plist examples/health-client/README.md
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${AGENT_DEV_PACKAGE_NAME}/examples/health-client
  COMPONENT dev)

install(FILES resources/debian/lintian-overrides-dev
  DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME ${AGENT_DEV_PACKAGE_NAME}
  COMPONENT dev)

set(CPACK_DEBIAN_DEV_PACKAGE_NAME ${AGENT_DEV_PACKAGE_NAME})
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS
  "libplist-dev, libre2-dev, libssl-dev, nlohmann-json3-dev")
set(CPACK_DEBIAN_DEV_PACKAGE_RECOMMENDS "${AGENT_PACKAGE_NAME} (= ${AGENT_VERSION}-1)")
set(CPACK_DEBIAN_DEV_DESCRIPTION "client library of the privileged helper agent
Static libraries and headers for programs that talk to the privileged helper
agent: the client engine and connectable client, the request and response
records, and the keyed-archive codec with the task records and task classes. Ships a CMake
package (QuillbyAgent), a pkg-config file (quillby-agent) and an example
client.")
