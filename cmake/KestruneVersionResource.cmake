# kestrune_add_version_resource(<target> <format> <file name>): gives a
# Windows module its version resource (file and product version from the
# project version, product name, company), from packaging/version.rc.in.
# Does nothing on other platforms.
function(kestrune_add_version_resource target format filename)
  if(NOT WIN32)
    return()
  endif()
  enable_language(RC)
  set(KESTRUNE_RC_FORMAT ${format})
  set(KESTRUNE_RC_FILENAME ${filename})
  set(script ${CMAKE_CURRENT_BINARY_DIR}/${target}-version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/version.rc.in ${script} @ONLY)
  target_sources(${target} PRIVATE ${script})
endfunction()
