; The Windows installer of Kestrune: the VST3 bundle into the common VST3
; folder, the VST2 plug-in into a folder the user chooses (remembered for
; upgrades), the factory presets into the user's preset folders, and an
; uninstaller registered in Add/Remove Programs.
;
; Built by makensis with these defines (see cmake/KestruneInstaller.cmake):
;   VERSION      product version, e.g. 3.1.0
;   OUTFILE      the installer to write
;   MODULES      folder with Kestrune.vst3\ and vst2\Kestrune.dll
;   PRESETS      folder with vst3\*.vstpreset and vst2\*.fxp
;   PRESET_LIST  an include file defining the macros InstallPresets and
;                RemovePresets (one File/Delete line per preset file)
;   DOCS         folder with README.md and LICENSE
;
; Silent use: Kestrune-<version>-win64-setup.exe /S [/D=<VST2 folder>]
;             "<uninstaller>" /S
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "x64.nsh"
!include "MUI2.nsh"

!define PRODUCT "Kestrune"
!define PUBLISHER "Marlowind"
!define PRODUCT_KEY "Software\${PUBLISHER}\${PRODUCT}"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define VST3_FOLDER "$COMMONFILES64\VST3"
!define VST3_PRESET_FOLDER "$DOCUMENTS\VST3 Presets\${PUBLISHER}\${PRODUCT}"
!define FXP_FOLDER "$DOCUMENTS\${PUBLISHER}\${PRODUCT}\VST2 Presets"
!define PROGRAM_FOLDER "$PROGRAMFILES64\${PUBLISHER}\${PRODUCT}"
!define UNINSTALLER "${PROGRAM_FOLDER}\Uninstall ${PRODUCT}.exe"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
; No InstallDir: $INSTDIR (the VST2 folder) is empty in .onInit unless /D=
; was given, so .onInit can tell a chosen folder from none.
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} ${VERSION} installer"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "GNU General Public License 3 or later"

!define MUI_ABORTWARNING
!define MUI_DIRECTORYPAGE_TEXT_TOP "The VST3 plug-in goes to $COMMONFILES64\VST3 and the presets to your Documents folder. Choose the folder where your host looks for VST2 plug-ins; Kestrune.dll is copied there."
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "VST2 plug-in folder"
!insertmacro MUI_PAGE_LICENSE "${DOCS}\LICENSE"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

!include "${PRESET_LIST}"

Var PreviousVst2Folder

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "${PRODUCT} needs 64-bit Windows." /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
  ReadRegStr $PreviousVst2Folder HKLM "${PRODUCT_KEY}" "VST2Folder"
  ${If} $INSTDIR == ""
    StrCpy $INSTDIR $PreviousVst2Folder
  ${EndIf}
  ${If} $INSTDIR == ""
    ; The folder hosts and other installers agree on, when one is recorded.
    ReadRegStr $INSTDIR HKLM "Software\VST" "VSTPluginsPath"
  ${EndIf}
  ${If} $INSTDIR == ""
    StrCpy $INSTDIR "$PROGRAMFILES64\Steinberg\VSTPlugins"
  ${EndIf}
FunctionEnd

Section "Kestrune"
  SetShellVarContext current
  SetOverwrite on

  SetOutPath "${VST3_FOLDER}"
  ; An upgrade replaces the whole bundle: no file of an older version stays.
  RMDir /r "${VST3_FOLDER}\${PRODUCT}.vst3"
  File /r "${MODULES}\${PRODUCT}.vst3"

  SetOutPath "$INSTDIR"
  File "${MODULES}\vst2\${PRODUCT}.dll"
  ; An upgrade into another VST2 folder leaves no copy in the old one.
  ${If} $PreviousVst2Folder != ""
  ${AndIf} $PreviousVst2Folder != $INSTDIR
    Delete "$PreviousVst2Folder\${PRODUCT}.dll"
  ${EndIf}

  SetOutPath "${VST3_PRESET_FOLDER}"
  !insertmacro InstallVst3Presets
  SetOutPath "${FXP_FOLDER}"
  !insertmacro InstallFxpPresets

  SetOutPath "${PROGRAM_FOLDER}"
  File "${DOCS}\README.md"
  File "${DOCS}\LICENSE"
  WriteUninstaller "${UNINSTALLER}"

  WriteRegStr HKLM "${PRODUCT_KEY}" "VST2Folder" "$INSTDIR"
  WriteRegStr HKLM "${PRODUCT_KEY}" "Version" "${VERSION}"

  ${GetSize} "${VST3_FOLDER}\${PRODUCT}.vst3" "/S=0K" $0 $1 $2
  ${GetSize} "${PROGRAM_FOLDER}" "/S=0K" $1 $2 $3
  IntOp $0 $0 + $1
  ${GetSize} "${VST3_PRESET_FOLDER}" "/S=0K" $1 $2 $3
  IntOp $0 $0 + $1
  ${GetSize} "${FXP_FOLDER}" "/S=0K" $1 $2 $3
  IntOp $0 $0 + $1
  ${GetSize} "$INSTDIR" "/M=${PRODUCT}.dll /S=0K /G=0" $1 $2 $3
  IntOp $0 $0 + $1

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"${UNINSTALLER}" /S'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "${PROGRAM_FOLDER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "${UNINSTALLER}"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

; Removes what the installer put in place, by name; folders go only when
; they are left empty, so a user's own presets and other plug-ins stay.
Section "Uninstall"
  SetShellVarContext current
  ReadRegStr $0 HKLM "${PRODUCT_KEY}" "VST2Folder"

  RMDir /r "${VST3_FOLDER}\${PRODUCT}.vst3"
  RMDir "${VST3_FOLDER}"
  ${If} $0 != ""
    Delete "$0\${PRODUCT}.dll"
    RMDir "$0"
  ${EndIf}

  !insertmacro RemoveVst3Presets "${VST3_PRESET_FOLDER}"
  RMDir "${VST3_PRESET_FOLDER}"
  RMDir "$DOCUMENTS\VST3 Presets\${PUBLISHER}"
  RMDir "$DOCUMENTS\VST3 Presets"
  !insertmacro RemoveFxpPresets "${FXP_FOLDER}"
  RMDir "${FXP_FOLDER}"
  RMDir "$DOCUMENTS\${PUBLISHER}\${PRODUCT}"
  RMDir "$DOCUMENTS\${PUBLISHER}"

  Delete "${PROGRAM_FOLDER}\README.md"
  Delete "${PROGRAM_FOLDER}\LICENSE"
  Delete "${UNINSTALLER}"
  RMDir "${PROGRAM_FOLDER}"
  RMDir "$PROGRAMFILES64\${PUBLISHER}"

  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "${PRODUCT_KEY}"
  DeleteRegKey /ifempty HKLM "Software\${PUBLISHER}"
SectionEnd
