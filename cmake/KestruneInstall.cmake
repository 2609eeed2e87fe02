# Installing Kestrune on Linux, and the two release files made from it.
#
# cmake --install puts the modules where hosts look:
#   prefix = $HOME (the default): ~/.vst3/Kestrune.vst3, ~/.vst/Kestrune.so
#     (with its editor images in ~/.vst/Kestrune.images),
#     ~/.lv2/Kestrune.lv2 (with its presets), ~/.clap/Kestrune.clap (with
#     its editor images in ~/.clap/Kestrune.images), VST3 presets in ~/.vst3/presets/Marlowind/Kestrune, VST2 presets and
#     the documents in ~/.local/share/kestrune;
#   any other prefix (--prefix /usr): <prefix>/lib/vst3, lib/vst, lib/lv2, lib/clap,
#     share/vst3/presets/Marlowind/Kestrune, share/kestrune/presets and
#     share/doc/kestrune.
# The VST2 module goes to one folder only: hosts that search both vst and
# lxvst would list it twice. /usr/lib/vst is in Ardour's built-in default
# path and in the other Linux hosts' (see README, Install).
# The layout is chosen when installing, so `cmake --install build --prefix
# /usr` and CPack (which installs to /usr) get the system-wide one.
#
# The build also makes Kestrune-<version>-linux-<processor>.tar.gz
# (modules, presets, README, LICENSE and an install.sh that installs per
# user) and, through CPack, kestrune_<version>_<Debian arch>.deb
# (system-wide): x86_64 and amd64 natively, aarch64 and arm64 from the
# cross-build (cmake/aarch64-linux-gnu.cmake).
if(MINGW)
  return()
endif()

# Debian's name for the processor.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "aarch64")
  set(KESTRUNE_DEB_ARCH arm64)
else()
  set(KESTRUNE_DEB_ARCH amd64)
endif()

if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX "$ENV{HOME}" CACHE PATH "Install prefix: your home folder installs per user" FORCE)
endif()

install(CODE [[
  get_filename_component(kestrune_prefix "${CMAKE_INSTALL_PREFIX}" REALPATH)
  get_filename_component(kestrune_home "$ENV{HOME}" REALPATH)
  if(DEFINED ENV{HOME} AND kestrune_prefix STREQUAL kestrune_home)
    set(KESTRUNE_VST3_DIR ".vst3")
    set(KESTRUNE_VST2_DIR ".vst")
    set(KESTRUNE_LV2_DIR ".lv2")
    set(KESTRUNE_CLAP_DIR ".clap")
    set(KESTRUNE_VST3_PRESET_DIR ".vst3/presets/Marlowind/Kestrune")
    set(KESTRUNE_FXP_DIR ".local/share/kestrune/presets")
    set(KESTRUNE_DOC_DIR ".local/share/kestrune")
  else()
    set(KESTRUNE_VST3_DIR "lib/vst3")
    set(KESTRUNE_VST2_DIR "lib/vst")
    set(KESTRUNE_LV2_DIR "lib/lv2")
    set(KESTRUNE_CLAP_DIR "lib/clap")
    set(KESTRUNE_VST3_PRESET_DIR "share/vst3/presets/Marlowind/Kestrune")
    set(KESTRUNE_FXP_DIR "share/kestrune/presets")
    set(KESTRUNE_DOC_DIR "share/doc/kestrune")
  endif()
  # A new bundle replaces the old one whole.
  file(REMOVE_RECURSE "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${KESTRUNE_VST3_DIR}/Kestrune.vst3")
  file(REMOVE_RECURSE "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${KESTRUNE_LV2_DIR}/Kestrune.lv2")
  file(REMOVE_RECURSE "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${KESTRUNE_VST2_DIR}/Kestrune.images")
  file(REMOVE_RECURSE "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${KESTRUNE_CLAP_DIR}/Kestrune.images")
  # Earlier versions put a second copy in ~/.lxvst. (A system-wide copy in
  # lib/lxvst may belong to a package, which removes its own files.)
  if(KESTRUNE_VST2_DIR STREQUAL ".vst")
    file(REMOVE "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/.lxvst/Kestrune.so")
  endif()
]])
install(DIRECTORY ${KESTRUNE_MODULE_DIR}/Kestrune.vst3 DESTINATION "\${KESTRUNE_VST3_DIR}"
        USE_SOURCE_PERMISSIONS PATTERN "Kestrune@*x.pack" EXCLUDE)
install(PROGRAMS $<TARGET_FILE:kestrune_vst2> DESTINATION "\${KESTRUNE_VST2_DIR}")
if(TARGET kestrune_lv2_bundle)
  install(DIRECTORY ${KESTRUNE_LV2_BUNDLE_DIR} DESTINATION "\${KESTRUNE_LV2_DIR}" USE_SOURCE_PERMISSIONS
          PATTERN "Kestrune@*x.pack" EXCLUDE)
endif()
if(TARGET kestrune_clap)
  install(PROGRAMS $<TARGET_FILE:kestrune_clap> DESTINATION "\${KESTRUNE_CLAP_DIR}")
endif()
# The editor's 2x and 3x images, which each module reads from beside it: the
# VST3 bundle's Contents/Resources, the LV2 bundle, Kestrune.images beside the
# VST2 and the CLAP module. Per user, each holds a copy; system-wide, the images are
# installed once, in share/kestrune/images, and each place links there
# (relative links, as Debian's policy asks), so the package holds them once.
install(CODE "set(KESTRUNE_IMAGE_PACKS \"${KESTRUNE_IMAGE_PACK_DIR}/Kestrune@2x.pack;${KESTRUNE_IMAGE_PACK_DIR}/Kestrune@3x.pack\")")
install(CODE [[
  # file(INSTALL) adds DESTDIR itself; the other file() calls need it.
  set(kestrune_root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
  set(kestrune_places "${KESTRUNE_VST3_DIR}/Kestrune.vst3/Contents/Resources"
                      "${KESTRUNE_VST2_DIR}/Kestrune.images")
  if(EXISTS "${kestrune_root}/${KESTRUNE_LV2_DIR}/Kestrune.lv2")
    list(APPEND kestrune_places "${KESTRUNE_LV2_DIR}/Kestrune.lv2")
  endif()
  if(EXISTS "${kestrune_root}/${KESTRUNE_CLAP_DIR}/Kestrune.clap")
    list(APPEND kestrune_places "${KESTRUNE_CLAP_DIR}/Kestrune.images")
  endif()
  if(KESTRUNE_VST2_DIR STREQUAL ".vst")
    foreach(place ${kestrune_places})
      file(INSTALL ${KESTRUNE_IMAGE_PACKS} DESTINATION "${CMAKE_INSTALL_PREFIX}/${place}")
    endforeach()
  else()
    set(kestrune_images "${kestrune_root}/share/kestrune/images")
    file(REMOVE_RECURSE "${kestrune_images}")
    file(INSTALL ${KESTRUNE_IMAGE_PACKS} DESTINATION "${CMAKE_INSTALL_PREFIX}/share/kestrune/images")
    foreach(place ${kestrune_places})
      file(MAKE_DIRECTORY "${kestrune_root}/${place}")
      file(RELATIVE_PATH up "${kestrune_root}/${place}" "${kestrune_images}")
      foreach(pack ${KESTRUNE_IMAGE_PACKS})
        get_filename_component(name "${pack}" NAME)
        message(STATUS "Installing: ${kestrune_root}/${place}/${name} -> ${up}/${name}")
        file(CREATE_LINK "${up}/${name}" "${kestrune_root}/${place}/${name}" SYMBOLIC)
      endforeach()
    endforeach()
  endif()
]])
install(FILES README.md LICENSE DESTINATION "\${KESTRUNE_DOC_DIR}")
# System-wide, the documents a Debian package carries: the copyright file and
# the changelog (compressed without a time stamp, so a rebuild is the same).
set(kestrune_changelog_gz ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(
  OUTPUT ${kestrune_changelog_gz}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
  COMMAND sh -c "gzip -9nc \"$1\" >\"$2\"" sh ${PROJECT_SOURCE_DIR}/packaging/changelog ${kestrune_changelog_gz}
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog
  VERBATIM)
add_custom_target(kestrune_changelog ALL DEPENDS ${kestrune_changelog_gz})
install(CODE "set(KESTRUNE_SYSTEM_DOCS \"${PROJECT_SOURCE_DIR}/packaging/copyright;${kestrune_changelog_gz}\")")
install(CODE [[
  if(NOT KESTRUNE_DOC_DIR STREQUAL ".local/share/kestrune")
    file(INSTALL ${KESTRUNE_SYSTEM_DOCS} DESTINATION "${CMAKE_INSTALL_PREFIX}/${KESTRUNE_DOC_DIR}")
  endif()
]])
if(DEFINED KESTRUNE_PRESET_OUTPUT_DIR)
  install(DIRECTORY ${KESTRUNE_PRESET_OUTPUT_DIR}/vst3/ DESTINATION "\${KESTRUNE_VST3_PRESET_DIR}")
  install(DIRECTORY ${KESTRUNE_PRESET_OUTPUT_DIR}/vst2/ DESTINATION "\${KESTRUNE_FXP_DIR}")
endif()
# The modules are installed as files, not targets: `cmake --install --strip`
# and CPack (CPACK_STRIP_FILES) strip them here.
install(CODE "set(KESTRUNE_STRIP \"${CMAKE_STRIP}\")")
install(CODE "set(KESTRUNE_VST3_LINUX_FOLDER \"${KESTRUNE_VST3_LINUX_FOLDER}\")")
install(CODE [[
  if(CMAKE_INSTALL_DO_STRIP)
    set(kestrune_root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
    set(kestrune_modules "${kestrune_root}/${KESTRUNE_VST3_DIR}/Kestrune.vst3/Contents/${KESTRUNE_VST3_LINUX_FOLDER}/Kestrune.so"
                         "${kestrune_root}/${KESTRUNE_VST2_DIR}/Kestrune.so")
    file(GLOB kestrune_lv2_modules "${kestrune_root}/${KESTRUNE_LV2_DIR}/Kestrune.lv2/*.so")
    file(GLOB kestrune_clap_module "${kestrune_root}/${KESTRUNE_CLAP_DIR}/Kestrune.clap")
    execute_process(COMMAND "${KESTRUNE_STRIP}" --strip-unneeded ${kestrune_modules} ${kestrune_lv2_modules}
                            ${kestrune_clap_module}
                    COMMAND_ERROR_IS_FATAL ANY)
  endif()
]])

# The release files: only from a release build with the presets, not from
# a sanitizer build.
if(KESTRUNE_SANITIZE OR NOT TARGET kestrune_factory_presets)
  return()
endif()

# Debian package, system-wide.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrune)
set(CPACK_PACKAGE_VENDOR Marlowind)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Stereo compressor plug-in (VST3, VST2, LV2 and CLAP)")
# Description lines of at most 80 characters, as Debian's policy asks.
set(CPACK_PACKAGE_DESCRIPTION
    "Kestrune is a stereo dynamics compressor with an external sidechain,\noversampled saturation and a SLAM mode, as VST3 (/usr/lib/vst3), VST2\n(/usr/lib/vst), LV2 (/usr/lib/lv2) and CLAP (/usr/lib/clap) plug-ins, with\nfactory presets.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Kestrune maintainers <maintainers@users.noreply.c-seed-ef42c4c5.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${KESTRUNE_DEB_ARCH})
# Dependencies from the modules' own library needs (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGE_CONTACT "maintainers@users.noreply.c-seed-ef42c4c5.example")
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/cpack)
set(CPACK_STRIP_FILES ON)
# cpack runs from the build itself (below); the install must not rebuild.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
include(CPack)

# The CLAP module, when the CLAP headers were found, is in both release files.
set(kestrune_clap_module)
if(TARGET kestrune_clap)
  set(kestrune_clap_module kestrune_clap)
endif()

# The editor images the modules' folders hold copies of.
set(kestrune_packs ${KESTRUNE_IMAGE_PACK_DIR}/Kestrune@2x.pack ${KESTRUNE_IMAGE_PACK_DIR}/Kestrune@3x.pack)
set(KESTRUNE_DEB ${CMAKE_BINARY_DIR}/kestrune_${PROJECT_VERSION}_${KESTRUNE_DEB_ARCH}.deb CACHE INTERNAL "The Debian package")
add_custom_command(
  OUTPUT ${KESTRUNE_DEB}
  COMMAND ${CMAKE_CPACK_COMMAND} --config ${CMAKE_BINARY_DIR}/CPackConfig.cmake -G DEB
  COMMAND sh ${PROJECT_SOURCE_DIR}/packaging/finish-deb.sh ${KESTRUNE_DEB}
  DEPENDS kestrune_vst2 kestrune_vst3 kestrune_lv2 kestrune_lv2_ui ${kestrune_clap_module}
          ${KESTRUNE_LV2_BUNDLE_DIR}/manifest.ttl
          ${kestrune_packs}
          ${KESTRUNE_PRESET_OUTPUT_DIR}/.written
          ${PROJECT_SOURCE_DIR}/cmake/KestruneInstall.cmake
          ${PROJECT_SOURCE_DIR}/packaging/finish-deb.sh ${PROJECT_SOURCE_DIR}/packaging/copyright
          ${kestrune_changelog_gz}
          ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
  COMMENT "Building the Debian package"
  VERBATIM)

# Release archive with a per-user install.sh.
set(archive_name Kestrune-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR})
set(KESTRUNE_ARCHIVE ${CMAKE_BINARY_DIR}/${archive_name}.tar.gz CACHE INTERNAL "The Linux release archive")
set(stage ${CMAKE_BINARY_DIR}/archive/${archive_name})
# In the archive the CLAP module shares Kestrune.images with the VST2 module
# (install.sh copies that folder beside each).
set(archive_clap)
set(archive_clap_strip)
if(TARGET kestrune_clap)
  set(archive_clap COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:kestrune_clap> ${stage}/Kestrune.clap)
  set(archive_clap_strip ${stage}/Kestrune.clap)
endif()
set(archive_bundle_packs)
set(archive_links)
foreach(pack Kestrune@2x.pack Kestrune@3x.pack)
  list(APPEND archive_bundle_packs ${stage}/Kestrune.vst3/Contents/Resources/${pack} ${stage}/Kestrune.lv2/${pack})
  list(APPEND archive_links
    COMMAND ${CMAKE_COMMAND} -E create_symlink ../../../Kestrune.images/${pack}
            ${stage}/Kestrune.vst3/Contents/Resources/${pack}
    COMMAND ${CMAKE_COMMAND} -E create_symlink ../Kestrune.images/${pack} ${stage}/Kestrune.lv2/${pack})
endforeach()
# The oldest glibc the modules run with, which install.sh checks for: the
# newest symbol version they import (tests/install checks it, and the
# README's GLIBCXX, against the modules).
set(KESTRUNE_GLIBC_MIN 2.35)
if(KESTRUNE_DEB_ARCH STREQUAL "arm64")
  set(KESTRUNE_PROCESSOR_NAME "64-bit ARM (aarch64)")
  set(KESTRUNE_UNAME_MACHINE aarch64)
else()
  set(KESTRUNE_PROCESSOR_NAME "x86-64")
  set(KESTRUNE_UNAME_MACHINE x86_64)
endif()
configure_file(${PROJECT_SOURCE_DIR}/packaging/install.sh.in ${CMAKE_BINARY_DIR}/archive/install.sh @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE)
add_custom_command(
  OUTPUT ${KESTRUNE_ARCHIVE}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${stage}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${stage}/presets
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${KESTRUNE_MODULE_DIR}/Kestrune.vst3 ${stage}/Kestrune.vst3
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:kestrune_vst2> ${stage}/Kestrune.so
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${KESTRUNE_MODULE_DIR}/vst2/Kestrune.images ${stage}/Kestrune.images
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${KESTRUNE_LV2_BUNDLE_DIR} ${stage}/Kestrune.lv2
  ${archive_clap}
  # The archive holds the images once: the bundles link to Kestrune.images
  # (install.sh copies what the links point to).
  COMMAND ${CMAKE_COMMAND} -E rm -f ${archive_bundle_packs}
  ${archive_links}
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${KESTRUNE_PRESET_OUTPUT_DIR}/vst3 ${stage}/presets/vst3
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${KESTRUNE_PRESET_OUTPUT_DIR}/vst2 ${stage}/presets/vst2
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
          ${CMAKE_BINARY_DIR}/archive/install.sh ${stage}/
  COMMAND ${CMAKE_STRIP} --strip-unneeded ${stage}/Kestrune.so ${stage}/Kestrune.vst3/Contents/${KESTRUNE_VST3_LINUX_FOLDER}/Kestrune.so
          ${stage}/Kestrune.lv2/Kestrune.so ${stage}/Kestrune.lv2/Kestrune_ui.so ${archive_clap_strip}
  COMMAND ${CMAKE_COMMAND} -E chdir ${CMAKE_BINARY_DIR}/archive
          ${CMAKE_COMMAND} -E tar czf ${KESTRUNE_ARCHIVE} ${archive_name}
  DEPENDS kestrune_vst2 kestrune_vst3 kestrune_lv2 kestrune_lv2_ui ${kestrune_clap_module}
          ${KESTRUNE_LV2_BUNDLE_DIR}/manifest.ttl
          ${kestrune_packs}
          ${KESTRUNE_PRESET_OUTPUT_DIR}/.written
          ${PROJECT_SOURCE_DIR}/packaging/install.sh.in
          ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
  COMMENT "Building the release archive"
  VERBATIM)
add_custom_target(kestrune_release_files ALL DEPENDS ${KESTRUNE_DEB} ${KESTRUNE_ARCHIVE})
add_dependencies(kestrune_release_files kestrune_factory_presets kestrune_lv2_bundle kestrune_changelog)
