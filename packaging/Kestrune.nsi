; The Windows installer of Kestrune: the VST3 bundle into the common VST3
; folder, the CLAP plug-in into the common CLAP folder, the VST2 plug-in
; into a folder the user chooses (remembered for upgrades), the factory presets where factory content is kept for all
; users (never into the folders where hosts save the user's own presets), and
; an uninstaller registered in Add/Remove Programs.
;
; Built by makensis with these defines (see cmake/KestruneInstaller.cmake):
;   VERSION      product version, e.g. 3.1.0
;   OUTFILE      the installer to write
;   MODULES      folder with Kestrune.vst3\, Kestrune.clap and vst2\Kestrune.dll
;   PRESETS      folder with vst3\*.vstpreset and vst2\*.fxp
;   PRESET_LIST  an include file defining the macros Install*Presets (one
;                File line per preset file) and Remove*Presets (one
;                DeleteIfSame per preset file)
;   DOCS         folder with README.md and LICENSE
;   ARTWORK      folder with Kestrune.ico and Wizard.bmp (kestrune-imagegen)
;
; Silent use: Kestrune-<version>-win64-setup.exe /S [/D=<VST2 folder>]
;             "<uninstaller>" /S
Unicode true
Target amd64-unicode
; Both modules carry the same editor images (34 MB each): a dictionary larger
; than one of them lets LZMA find the second copy in the first, which halves
; the download (45 to 23 MB) and the time it takes to unpack.
SetCompressor /SOLID lzma
SetCompressorDictSize 64
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
!define CLAP_FOLDER "$COMMONFILES64\CLAP"
; Where VST3 hosts save the user's own presets, and where earlier versions
; also put the factory presets: an install or uninstall only removes
; files there that hold exactly a factory preset.
!define USER_VST3_PRESET_FOLDER "$DOCUMENTS\VST3 Presets\${PUBLISHER}\${PRODUCT}"
!define USER_FXP_FOLDER "$DOCUMENTS\${PUBLISHER}\${PRODUCT}\VST2 Presets"
!define PROGRAM_FOLDER "$PROGRAMFILES64\${PUBLISHER}\${PRODUCT}"
; The factory presets: VST3 in the all-users VST3 preset folder
; (C:\ProgramData\VST3 Presets, set in .onInit), .fxp beside the uninstaller.
!define FXP_FACTORY_FOLDER "${PROGRAM_FOLDER}\VST2 Presets"
!define UNINSTALLER "${PROGRAM_FOLDER}\Uninstall ${PRODUCT}.exe"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
BrandingText "${PRODUCT} ${VERSION} by ${PUBLISHER}"
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
!define MUI_ICON "${ARTWORK}\Kestrune.ico"
!define MUI_UNICON "${ARTWORK}\Kestrune.ico"
!define MUI_WELCOMEFINISHPAGE_BITMAP "${ARTWORK}\Wizard.bmp"
!define MUI_UNWELCOMEFINISHPAGE_BITMAP "${ARTWORK}\Wizard.bmp"

!define MUI_WELCOMEPAGE_TITLE "Kestrune ${VERSION}, stereo compressor"
!define MUI_WELCOMEPAGE_TEXT "This installs the Kestrune plug-ins and factory presets:$\r$\n$\r$\n\
- VST3 plug-in: $COMMONFILES64\VST3\Kestrune.vst3$\r$\n\
- CLAP plug-in: $COMMONFILES64\CLAP\Kestrune.clap$\r$\n\
- VST2 plug-in: Kestrune.dll, in a folder you choose on a later page$\r$\n\
- Factory presets: C:\ProgramData\VST3 Presets\Marlowind\Kestrune (VST3) and $PROGRAMFILES64\Marlowind\Kestrune\VST2 Presets (.fxp)$\r$\n\
- Uninstaller, README and licence: $PROGRAMFILES64\Marlowind\Kestrune$\r$\n$\r$\n\
Close your plug-in host before you go on; it finds Kestrune at its next plug-in scan."
!insertmacro MUI_PAGE_WELCOME

!define MUI_PAGE_HEADER_TEXT "Licence"
!define MUI_PAGE_HEADER_SUBTEXT "Kestrune is free software under the GNU General Public License, version 3 or later."
!insertmacro MUI_PAGE_LICENSE "${DOCS}\LICENSE"

!define MUI_PAGE_HEADER_TEXT "VST2 plug-in folder"
!define MUI_PAGE_HEADER_SUBTEXT "Choose the folder your host scans for VST2 plug-ins; Kestrune.dll goes there."
!define MUI_DIRECTORYPAGE_TEXT_TOP "Kestrune.dll, the VST2 plug-in, is copied into the folder below: pick the one your host scans for VST2 plug-ins. The VST3 and CLAP plug-ins and the factory presets go to their own folders, whichever folder you pick here."
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "VST2 plug-in folder"
!insertmacro MUI_PAGE_DIRECTORY

!define MUI_PAGE_HEADER_TEXT "Installing Kestrune"
!define MUI_PAGE_HEADER_SUBTEXT "Copying the VST3, CLAP and VST2 plug-ins and the factory presets."
!define MUI_INSTFILESPAGE_FINISHHEADER_TEXT "Kestrune is installed"
!define MUI_INSTFILESPAGE_FINISHHEADER_SUBTEXT "Let your host rescan its plug-in folders to find it."
!define MUI_INSTFILESPAGE_ABORTHEADER_TEXT "Kestrune was not installed"
!define MUI_INSTFILESPAGE_ABORTHEADER_SUBTEXT "The installation stopped before it was complete."
!insertmacro MUI_PAGE_INSTFILES

!define MUI_PAGE_HEADER_TEXT "Remove Kestrune"
!define MUI_PAGE_HEADER_SUBTEXT "The plug-ins and factory presets go; presets you saved yourself stay."
!insertmacro MUI_UNPAGE_CONFIRM
!define MUI_PAGE_HEADER_TEXT "Removing Kestrune"
!define MUI_PAGE_HEADER_SUBTEXT "Deleting the files the installer put in place."
!define MUI_INSTFILESPAGE_FINISHHEADER_TEXT "Kestrune is removed"
!define MUI_INSTFILESPAGE_FINISHHEADER_SUBTEXT "Your own presets and other plug-ins are untouched."
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Deletes FILE when it holds exactly what REFERENCE holds (a factory preset),
; so that a file of the same name with other content (the user's own) stays.
!macro DeleteIfSame FILE REFERENCE
  Push "${FILE}"
  Push "${REFERENCE}"
  !ifdef __UNINSTALL__
    Call un.DeleteIfSame
  !else
    Call DeleteIfSame
  !endif
!macroend
!macro DeleteIfSameFunction UN
Function ${UN}DeleteIfSame
  Exch $1
  Exch
  Exch $0
  Push $2
  Push $3
  Push $4
  Push $5
  ClearErrors
  FileOpen $2 $0 r
  IfErrors done
  FileOpen $3 $1 r
  IfErrors close_file
  FileSeek $2 0 END $4
  FileSeek $3 0 END $5
  StrCmp $4 $5 0 close_both
  FileSeek $2 0 SET
  FileSeek $3 0 SET
  compare:
    ClearErrors
    FileReadByte $2 $4
    IfErrors same
    FileReadByte $3 $5
    StrCmp $4 $5 compare close_both
  same:
    FileClose $3
    FileClose $2
    Delete $0
    Goto done
  close_both:
    FileClose $3
  close_file:
    FileClose $2
  done:
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $0
  Pop $1
FunctionEnd
!macroend
!insertmacro DeleteIfSameFunction ""
!insertmacro DeleteIfSameFunction "un."

!include "${PRESET_LIST}"

Var PreviousVst2Folder
Var FactoryVst3Folder

; Folders: an uninstall removes only the folders the install made, and
; only once they are empty. For each destination the install records the
; topmost folder it had to make (nothing when the destination was there).

; The topmost folder of a path that does not exist yet; "" when it exists.
Function FirstMissingFolder
  Exch $0
  Push $1
  Push $2
  StrCpy $1 ""
  StrCpy $2 $0
  loop:
    StrCmp $2 "" done
    IfFileExists "$2\*.*" done
    StrCpy $1 $2
    ${GetParent} $2 $2
    Goto loop
  done:
  StrCpy $0 $1
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

; Records, under registry value NAME, what an install into PATH makes. When
; PATH is already there, an earlier install's record for it still holds.
!macro RecordMadeFolder PATH NAME
  Push "${PATH}"
  Push "${NAME}"
  Call RecordMadeFolder
!macroend
Function RecordMadeFolder
  Exch $1
  Exch
  Exch $0
  Push $2
  Push $3
  Push $4
  Push $0
  Call FirstMissingFolder
  Pop $2
  ${If} $2 == ""
    ReadRegStr $2 HKLM "${PRODUCT_KEY}" $1
    StrLen $3 $2
    StrCpy $4 $0 $3
    ${If} $4 != $2
      StrCpy $2 ""
    ${EndIf}
  ${EndIf}
  WriteRegStr HKLM "${PRODUCT_KEY}" $1 $2
  Pop $4
  Pop $3
  Pop $2
  Pop $0
  Pop $1
FunctionEnd

; Removes FOLDER and its parents up to TOP, each only when empty; TOP ""
; means the install made none of them.
!macro RemoveMadeFolders FOLDER TOP
  Push "${FOLDER}"
  Push "${TOP}"
  !ifdef __UNINSTALL__
    Call un.RemoveMadeFolders
  !else
    Call RemoveMadeFolders
  !endif
!macroend
!macro RemoveMadeFoldersFunction UN
Function ${UN}RemoveMadeFolders
  Exch $1
  Exch
  Exch $0
  Push $2
  Push $3
  StrCmp $1 "" done
  StrLen $3 $1
  loop:
    StrCpy $2 $0 $3
    StrCmp $2 $1 0 done
    RMDir $0
    StrCmp $0 $1 done
    ${GetParent} $0 $0
    Goto loop
  done:
  Pop $3
  Pop $2
  Pop $0
  Pop $1
FunctionEnd
!macroend
!insertmacro RemoveMadeFoldersFunction ""
!insertmacro RemoveMadeFoldersFunction "un."

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "${PRODUCT} needs 64-bit Windows." /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
  SetShellVarContext all
  StrCpy $FactoryVst3Folder "$APPDATA\VST3 Presets\${PUBLISHER}\${PRODUCT}"
  SetShellVarContext current
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

  ; Before anything is made: which folders this install makes. A VST2
  ; folder other than the earlier one starts a record of its own.
  ReadRegStr $R0 HKLM "${PRODUCT_KEY}" "MadeVST2"
  ${If} $PreviousVst2Folder != $INSTDIR
    DeleteRegValue HKLM "${PRODUCT_KEY}" "MadeVST2"
  ${EndIf}
  !insertmacro RecordMadeFolder "$INSTDIR" "MadeVST2"
  !insertmacro RecordMadeFolder "${VST3_FOLDER}" "MadeVST3"
  !insertmacro RecordMadeFolder "${CLAP_FOLDER}" "MadeCLAP"
  !insertmacro RecordMadeFolder "$FactoryVst3Folder" "MadeVST3Factory"
  !insertmacro RecordMadeFolder "${PROGRAM_FOLDER}" "MadeProgramFolder"
  !insertmacro RecordMadeFolder "${FXP_FACTORY_FOLDER}" "MadeFxpFactory"

  SetOutPath "${VST3_FOLDER}"
  ; An upgrade replaces the whole bundle: no file of an older version stays.
  RMDir /r "${VST3_FOLDER}\${PRODUCT}.vst3"
  File /r "${MODULES}\${PRODUCT}.vst3"

  SetOutPath "${CLAP_FOLDER}"
  File "${MODULES}\${PRODUCT}.clap"

  SetOutPath "$INSTDIR"
  File "${MODULES}\vst2\${PRODUCT}.dll"
  ; An upgrade into another VST2 folder leaves no copy in the old one, nor
  ; the folders made for it once they are empty.
  ${If} $PreviousVst2Folder != ""
  ${AndIf} $PreviousVst2Folder != $INSTDIR
    Delete "$PreviousVst2Folder\${PRODUCT}.dll"
    !insertmacro RemoveMadeFolders "$PreviousVst2Folder" "$R0"
  ${EndIf}

  SetOutPath "$FactoryVst3Folder"
  !insertmacro InstallVst3Presets
  SetOutPath "${FXP_FACTORY_FOLDER}"
  !insertmacro InstallFxpPresets
  ; Earlier versions put the factory presets into the user's own folders:
  ; the copies still exactly as installed go, with those folders once empty.
  !insertmacro RemoveVst3Presets "${USER_VST3_PRESET_FOLDER}" "$FactoryVst3Folder"
  ReadRegStr $1 HKLM "${PRODUCT_KEY}" "MadeVST3Presets"
  !insertmacro RemoveMadeFolders "${USER_VST3_PRESET_FOLDER}" "$1"
  DeleteRegValue HKLM "${PRODUCT_KEY}" "MadeVST3Presets"
  !insertmacro RemoveFxpPresets "${USER_FXP_FOLDER}" "${FXP_FACTORY_FOLDER}"
  ReadRegStr $1 HKLM "${PRODUCT_KEY}" "MadeFxpPresets"
  !insertmacro RemoveMadeFolders "${USER_FXP_FOLDER}" "$1"
  DeleteRegValue HKLM "${PRODUCT_KEY}" "MadeFxpPresets"

  SetOutPath "${PROGRAM_FOLDER}"
  File "${DOCS}\README.md"
  File "${DOCS}\LICENSE"
  WriteUninstaller "${UNINSTALLER}"

  WriteRegStr HKLM "${PRODUCT_KEY}" "VST2Folder" "$INSTDIR"
  WriteRegStr HKLM "${PRODUCT_KEY}" "Version" "${VERSION}"

  ${GetSize} "${VST3_FOLDER}\${PRODUCT}.vst3" "/S=0K" $0 $1 $2
  ${GetSize} "${PROGRAM_FOLDER}" "/S=0K" $1 $2 $3
  IntOp $0 $0 + $1
  ${GetSize} "${CLAP_FOLDER}" "/M=${PRODUCT}.clap /S=0K /G=0" $1 $2 $3
  IntOp $0 $0 + $1
  ${GetSize} "$FactoryVst3Folder" "/S=0K" $1 $2 $3
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
  SetShellVarContext all
  StrCpy $FactoryVst3Folder "$APPDATA\VST3 Presets\${PUBLISHER}\${PRODUCT}"
  SetShellVarContext current
FunctionEnd

; Removes what the installer put in place, by name, and a preset file only
; while it holds exactly the factory preset; folders go only when the
; install made them and they are left empty, so a user's own presets, other
; plug-ins and folders that were there before stay.
Section "Uninstall"
  SetShellVarContext current
  ReadRegStr $0 HKLM "${PRODUCT_KEY}" "VST2Folder"

  RMDir /r "${VST3_FOLDER}\${PRODUCT}.vst3"
  ReadRegStr $1 HKLM "${PRODUCT_KEY}" "MadeVST3"
  !insertmacro RemoveMadeFolders "${VST3_FOLDER}" "$1"
  Delete "${CLAP_FOLDER}\${PRODUCT}.clap"
  ReadRegStr $1 HKLM "${PRODUCT_KEY}" "MadeCLAP"
  !insertmacro RemoveMadeFolders "${CLAP_FOLDER}" "$1"
  ${If} $0 != ""
    Delete "$0\${PRODUCT}.dll"
    ReadRegStr $1 HKLM "${PRODUCT_KEY}" "MadeVST2"
    !insertmacro RemoveMadeFolders "$0" "$1"
  ${EndIf}

  ; The factory presets, unpacked to tell them from other files of their names.
  InitPluginsDir
  SetOutPath "$PLUGINSDIR\vst3"
  !insertmacro InstallVst3Presets
  SetOutPath "$PLUGINSDIR\fxp"
  !insertmacro InstallFxpPresets
  SetOutPath "$TEMP"
  !insertmacro RemoveVst3Presets "$FactoryVst3Folder" "$PLUGINSDIR\vst3"
  ReadRegStr $1 HKLM "${PRODUCT_KEY}" "MadeVST3Factory"
  !insertmacro RemoveMadeFolders "$FactoryVst3Folder" "$1"
  !insertmacro RemoveFxpPresets "${FXP_FACTORY_FOLDER}" "$PLUGINSDIR\fxp"
  ReadRegStr $1 HKLM "${PRODUCT_KEY}" "MadeFxpFactory"
  !insertmacro RemoveMadeFolders "${FXP_FACTORY_FOLDER}" "$1"
  ; Copies an earlier version left in the user's folders.
  !insertmacro RemoveVst3Presets "${USER_VST3_PRESET_FOLDER}" "$PLUGINSDIR\vst3"
  !insertmacro RemoveFxpPresets "${USER_FXP_FOLDER}" "$PLUGINSDIR\fxp"

  Delete "${PROGRAM_FOLDER}\README.md"
  Delete "${PROGRAM_FOLDER}\LICENSE"
  ; This is a copy of the uninstaller, started by it from the temporary
  ; folder; the original may still be closing, and a program that runs
  ; cannot be deleted. Up to 10 s, then the folder stays as it is.
  StrCpy $2 0
  ${Do}
    Delete "${UNINSTALLER}"
    ${IfNot} ${FileExists} "${UNINSTALLER}"
      ${ExitDo}
    ${EndIf}
    ${If} $2 >= 100
      ${ExitDo}
    ${EndIf}
    Sleep 100
    IntOp $2 $2 + 1
  ${Loop}
  ReadRegStr $1 HKLM "${PRODUCT_KEY}" "MadeProgramFolder"
  !insertmacro RemoveMadeFolders "${PROGRAM_FOLDER}" "$1"

  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "${PRODUCT_KEY}"
  DeleteRegKey /ifempty HKLM "Software\${PUBLISHER}"
SectionEnd
