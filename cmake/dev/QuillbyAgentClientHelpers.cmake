# What a client program needs besides the library: the agent reads the client's bundle
# identifier and version from the Info property list embedded in its executable, and admits
# only a client whose code signature its trust anchors accept.

set(_quillby_agent_dir ${CMAKE_CURRENT_LIST_DIR})

# quillby_agent_embed_info_plist(TARGET PLIST): embeds the XML property list PLIST into the
# executable TARGET as the section "__info_plist", where the library finds it at run time.
function(quillby_agent_embed_info_plist target plist)
  get_filename_component(plist ${plist} ABSOLUTE)
  target_sources(${target} PRIVATE ${_quillby_agent_dir}/ExecuteHeaderSymbol.cpp)
  target_link_options(${target} PRIVATE -Wl,--export-dynamic-symbol=_mh_execute_header)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${plist})
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --remove-section=__info_plist --add-section __info_plist=${plist}
            $<TARGET_FILE:${target}>
    VERBATIM)
endfunction()

# quillby_agent_sign(TARGET IDENTIFIER id KEY key.pem CERT cert.pem): signs the executable
# TARGET after every other post-build step with agent-codesign (of the package quillby-agent),
# so that the signature covers its final bytes. Call it after quillby_agent_embed_info_plist.
function(quillby_agent_sign target)
  cmake_parse_arguments(ARG "" "IDENTIFIER;KEY;CERT" "" ${ARGN})
  if(NOT ARG_IDENTIFIER OR NOT ARG_KEY OR NOT ARG_CERT)
    message(FATAL_ERROR "quillby_agent_sign needs IDENTIFIER, KEY and CERT")
  endif()
  find_program(QUILLBY_AGENT_CODESIGN agent-codesign REQUIRED)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${QUILLBY_AGENT_CODESIGN} --identifier ${ARG_IDENTIFIER} --key ${ARG_KEY}
            --cert ${ARG_CERT} $<TARGET_FILE:${target}>
    VERBATIM)
endfunction()
