# Run as a script (cmake -P) when the installer is built: writes the NSIS
# include that installs and removes the factory preset files one by one, so
# the uninstaller removes exactly the files the installer put in place, and
# each only while it holds the factory preset (compared with the same file in
# a REFERENCE folder).
#   -DPRESETS=<folder with vst3/*.vstpreset and vst2/*.fxp> -DOUTPUT=<file.nsh>
file(GLOB vst3_presets "${PRESETS}/vst3/*.vstpreset")
file(GLOB fxp_presets "${PRESETS}/vst2/*.fxp")
if(NOT vst3_presets OR NOT fxp_presets)
  message(FATAL_ERROR "no factory presets in ${PRESETS}")
endif()

set(text "; Written by KestruneNsisPresetList.cmake from ${PRESETS}\n")
foreach(kind Vst3 Fxp)
  if(kind STREQUAL "Vst3")
    set(files ${vst3_presets})
  else()
    set(files ${fxp_presets})
  endif()
  string(APPEND text "!macro Install${kind}Presets\n")
  foreach(path ${files})
    string(APPEND text "  File \"${path}\"\n")
  endforeach()
  string(APPEND text "!macroend\n!macro Remove${kind}Presets FOLDER REFERENCE\n")
  foreach(path ${files})
    get_filename_component(name "${path}" NAME)
    string(APPEND text "  !insertmacro DeleteIfSame \"\${FOLDER}\\${name}\" \"\${REFERENCE}\\${name}\"\n")
  endforeach()
  string(APPEND text "!macroend\n")
endforeach()
file(WRITE "${OUTPUT}" "${text}")
