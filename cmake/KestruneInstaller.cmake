# The Windows installer, Kestrune-<version>-win64-setup.exe, made by NSIS
# (makensis runs on the build machine) from this build's modules and the
# factory presets and installer artwork a native build wrote
# (KESTRUNE_PRESET_DIR; the preset files do not depend on the platform, and
# kestrune-imagegen draws the icon and welcome picture in installer/).
set(KESTRUNE_PRESET_DIR "" CACHE PATH
    "Factory preset files (vst3/, vst2/) and installer artwork (installer/) written by a native build")
find_program(KESTRUNE_MAKENSIS makensis)
if(NOT KESTRUNE_MAKENSIS OR NOT KESTRUNE_PRESET_DIR)
  message(STATUS "Windows installer not built: needs makensis and KESTRUNE_PRESET_DIR")
  return()
endif()

set(KESTRUNE_INSTALLER ${CMAKE_BINARY_DIR}/Kestrune-${PROJECT_VERSION}-win64-setup.exe
    CACHE INTERNAL "The Windows installer")
set(preset_list ${CMAKE_BINARY_DIR}/installer/presets.nsh)
add_custom_command(
  OUTPUT ${preset_list}
  COMMAND ${CMAKE_COMMAND} -DPRESETS=${KESTRUNE_PRESET_DIR} -DOUTPUT=${preset_list}
          -P ${PROJECT_SOURCE_DIR}/cmake/KestruneNsisPresetList.cmake
  DEPENDS ${PROJECT_SOURCE_DIR}/cmake/KestruneNsisPresetList.cmake ${KESTRUNE_PRESET_DIR}/.written
  VERBATIM)
set(nsis_inputs -DMODULES=${KESTRUNE_MODULE_DIR} -DPRESETS=${KESTRUNE_PRESET_DIR}
    -DPRESET_LIST=${preset_list} -DDOCS=${PROJECT_SOURCE_DIR} -DARTWORK=${KESTRUNE_PRESET_DIR}/installer
    ${PROJECT_SOURCE_DIR}/packaging/Kestrune.nsi)
set(nsis_depends kestrune_vst2 kestrune_vst3 kestrune_clap ${preset_list} ${PROJECT_SOURCE_DIR}/packaging/Kestrune.nsi
    ${KESTRUNE_PRESET_DIR}/installer/Kestrune.ico ${KESTRUNE_PRESET_DIR}/installer/Wizard.bmp
    ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE)
add_custom_command(
  OUTPUT ${KESTRUNE_INSTALLER}
  COMMAND ${KESTRUNE_MAKENSIS} -V2 -DVERSION=${PROJECT_VERSION} -DOUTFILE=${KESTRUNE_INSTALLER} ${nsis_inputs}
  DEPENDS ${nsis_depends}
  COMMENT "Building the Windows installer"
  VERBATIM)
add_custom_target(kestrune_installer ALL DEPENDS ${KESTRUNE_INSTALLER})

# The installer test's older version to upgrade from: the same script built
# as 3.0.0, its files stored as they are, in a thirtieth of LZMA's time.
if(KESTRUNE_TESTS)
  set(KESTRUNE_OLDER_INSTALLER ${CMAKE_BINARY_DIR}/installer/older-3.0.0-setup.exe
      CACHE INTERNAL "The installer test's older version")
  add_custom_command(
    OUTPUT ${KESTRUNE_OLDER_INSTALLER}
    COMMAND ${KESTRUNE_MAKENSIS} -V1 "-XSetCompressor /FINAL zlib" "-XSetCompress off" -DVERSION=3.0.0
            -DOUTFILE=${KESTRUNE_OLDER_INSTALLER} ${nsis_inputs}
    DEPENDS ${nsis_depends}
    COMMENT "Building an older installer for the installer test"
    VERBATIM)
  add_custom_target(kestrune_older_installer ALL DEPENDS ${KESTRUNE_OLDER_INSTALLER})
endif()
