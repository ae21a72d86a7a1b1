# Adds every immediate sub-folder of the current source folder that has a CMakeLists.txt,
# so that each subsystem owns its own build file and none has to be listed centrally.
# AGENT_EXCLUDE (a list of folder names) leaves folders out of a partial build.
set(AGENT_EXCLUDE "" CACHE STRING "Folder names that agent_add_subdirectories skips")
function(agent_add_subdirectories)
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
       ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child IN LISTS children)
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child}
       AND NOT child IN_LIST AGENT_EXCLUDE
       AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

# agent_add_test(NAME SOURCES... LIBS...) builds one GoogleTest executable and registers each
# of its test cases with CTest as a test of its own ("Suite.Case"), so that a failure names the
# case. The cases are listed when CTest runs, not at build time.
function(agent_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  set(labels unit ${ARG_LABELS})
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST EXTRA_ARGS --gtest_brief=1
    PROPERTIES TIMEOUT 600 LABELS "${labels}")
endfunction()

# agent_embed_property_lists(TARGET [INFO xml-file] [LAUNCHD xml-file]) embeds property lists
# into an executable as the sections "__info_plist" (XML, as given) and "__launchd_plist"
# (converted to the binary format), and exports the image marker through which the program
# finds them at run time.
function(agent_embed_property_lists target)
  cmake_parse_arguments(ARG "" "INFO;LAUNCHD" "" ${ARGN})
  target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/src/platform/loader/ExecuteHeaderSymbol.cpp)
  target_link_options(${target} PRIVATE -Wl,--export-dynamic-symbol=_mh_execute_header)
  set(sections)
  set(depends)
  if(ARG_INFO)
    list(APPEND sections --remove-section=__info_plist --add-section __info_plist=${ARG_INFO})
    list(APPEND depends ${ARG_INFO})
  endif()
  if(ARG_LAUNCHD)
    set(binary ${CMAKE_CURRENT_BINARY_DIR}/${target}.launchd.bplist)
    add_custom_command(OUTPUT ${binary}
      COMMAND python3 ${PROJECT_SOURCE_DIR}/resources/plist-to-binary.py ${ARG_LAUNCHD} ${binary}
      DEPENDS ${ARG_LAUNCHD} VERBATIM)
    add_custom_target(${target}_launchd_plist DEPENDS ${binary})
    add_dependencies(${target} ${target}_launchd_plist)
    list(APPEND sections --remove-section=__launchd_plist --add-section __launchd_plist=${binary})
    list(APPEND depends ${binary})
  endif()
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${depends})
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} ${sections} $<TARGET_FILE:${target}>
    VERBATIM)
endfunction()

# agent_library_headers(TARGET): the library's headers are included as "folder/Header.h", from
# src/ in the build tree and from the development package's include folder once installed.
function(agent_library_headers target)
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/src>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/quillby-agent>)
endfunction()
