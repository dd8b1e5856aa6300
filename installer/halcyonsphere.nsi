; Installs Halcyonsphere into the Plugins folder of a Winamp-compatible player.
;
; make_packages.py runs makensis with these defines:
;   VERSION    x.y.z, from the build
;   BIN_DIR    the build's folder with vis_halcyonsphere.dll and vis_halcyonsphere_assets/
;   WORK_DIR   install_assets.nsh and uninstall_assets.nsh (the asset folder's files, listed at
;              packaging time) and the licence text with Windows line ends
;   OUT_FILE   the installer to write
;   ICON       optional: the plug-in's icon for the installer and the uninstaller
;
; $INSTDIR is the player's folder (what the folder page and /D= choose); the files go into its
; Plugins folder, beside the uninstaller. The options file useropt.cfg is never shipped and never
; removed, so the user's options survive upgrades and uninstalls.

!ifndef VERSION | BIN_DIR | WORK_DIR | OUT_FILE
  !error "makensis needs -DVERSION, -DBIN_DIR, -DWORK_DIR and -DOUT_FILE (see make_packages.py)"
!endif

Unicode true
!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh

!define PRODUCT "Halcyonsphere"
!define PUBLISHER "The Halcyonsphere developers"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Halcyonsphere"
!define UNINSTALLER "uninstall_halcyonsphere.exe"
!define ASSETS "vis_halcyonsphere_assets"
; What a Winamp installation leaves behind: its folder in HKCU\Software\Winamp, its uninstall
; entry, and the class of its main window.
!define PLAYER_KEY "Software\Winamp"
!define PLAYER_UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Winamp"
!define PLAYER_WINDOW_CLASS "Winamp v1.x"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUT_FILE}"
; No InstallDir: .onInit looks for the player unless /D= named a folder.
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${PRODUCT} ${VERSION} setup"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "LegalCopyright" "Copyright (c) 2026 ${PUBLISHER}, MIT licence"

!ifdef ICON
  !define MUI_ICON "${ICON}"
  !define MUI_UNICON "${ICON}"
!endif
!define MUI_ABORTWARNING

!insertmacro MUI_PAGE_LICENSE "${WORK_DIR}/licence.txt"
!define MUI_PAGE_HEADER_SUBTEXT "Choose the player that gets ${PRODUCT}."
!define MUI_DIRECTORYPAGE_TEXT_TOP "Setup installs ${PRODUCT} into the Plugins folder of your player. Below is the player's folder (the one that holds winamp.exe); to use another player, choose its folder."
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "Player folder"
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE CheckPlayerFolder
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TITLE "${PRODUCT} is installed"
!define MUI_FINISHPAGE_TEXT "To use it, open the player's Preferences (Ctrl+P), choose Plug-ins > Visualization, select ${PRODUCT} and press Start. Configure opens its options."
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

; PlayerFolderFrom: $0 holds a path read from the registry; leaves in $0 the folder it names
; without quotes, a file name ending in .exe or a trailing backslash, or "" when no such folder
; exists (a player uninstalled without cleaning up).
Function PlayerFolderFrom
  ${If} $0 == ""
    Return
  ${EndIf}
  StrCpy $1 $0 1
  ${If} $1 == '"'
    StrCpy $0 $0 "" 1
    StrCpy $1 $0 1 -1
    ${If} $1 == '"'
      StrCpy $0 $0 -1
    ${EndIf}
  ${EndIf}
  StrCpy $1 $0 4 -4
  ${If} $1 == ".exe"
    ${GetParent} $0 $0
  ${EndIf}
  StrCpy $1 $0 1 -1
  ${If} $1 == "\"
    StrCpy $0 $0 -1
  ${EndIf}
  ${If} $0 == ""
  ${OrIfNot} ${FileExists} "$0\*.*"
    StrCpy $0 ""
  ${EndIf}
FunctionEnd

Function .onInit
  ${If} $INSTDIR != ""
    Return  ; /D= chose the folder
  ${EndIf}
  ReadRegStr $0 HKCU "${PLAYER_KEY}" ""
  Call PlayerFolderFrom
  ${If} $0 == ""
    ReadRegStr $0 HKLM "${PLAYER_UNINSTALL_KEY}" "InstallLocation"
    Call PlayerFolderFrom
  ${EndIf}
  ${If} $0 == ""
    StrCpy $0 "$PROGRAMFILES\Winamp"
  ${EndIf}
  StrCpy $INSTDIR $0
FunctionEnd

Function CheckPlayerFolder
  ${If} ${FileExists} "$INSTDIR\winamp.exe"
  ${OrIf} ${FileExists} "$INSTDIR\Plugins\*.*"
    Return
  ${EndIf}
  MessageBox MB_YESNO|MB_ICONQUESTION "$INSTDIR does not look like a player's folder: it has neither winamp.exe nor a Plugins folder.$\n$\nInstall there anyway?" /SD IDYES IDYES accepted
  Abort
  accepted:
FunctionEnd

; A running player may hold the DLL open, and a half-replaced plug-in is worse than none.
!macro REQUIRE_PLAYER_CLOSED un
Function ${un}RequirePlayerClosed
  retry:
  FindWindow $0 "${PLAYER_WINDOW_CLASS}"
  StrCmp $0 0 closed
  MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "The player is running. Please close it, then press Retry." /SD IDCANCEL IDRETRY retry
  SetErrorLevel 2
  Quit
  closed:
FunctionEnd
!macroend
!insertmacro REQUIRE_PLAYER_CLOSED ""
!insertmacro REQUIRE_PLAYER_CLOSED "un."

; An earlier install's uninstaller takes away what that version put there (and leaves the
; options file), so that no file a newer version dropped stays behind. It runs from a copy, with
; _?=, so that ExecWait waits for it.
Function RemovePreviousInstall
  ${IfNot} ${FileExists} "$INSTDIR\Plugins\${UNINSTALLER}"
    Return
  ${EndIf}
  InitPluginsDir
  CopyFiles /SILENT "$INSTDIR\Plugins\${UNINSTALLER}" "$PLUGINSDIR\previous_uninstaller.exe"
  DetailPrint "Removing the earlier version..."
  ExecWait '"$PLUGINSDIR\previous_uninstaller.exe" /S _?=$INSTDIR\Plugins' $0
  Delete "$PLUGINSDIR\previous_uninstaller.exe"
FunctionEnd

Section "${PRODUCT}"
  Call RequirePlayerClosed
  Call RemovePreviousInstall
  ClearErrors
  SetOutPath "$INSTDIR\Plugins"
  File "${BIN_DIR}/vis_halcyonsphere.dll"
  !include "${WORK_DIR}/install_assets.nsh"
  SetOutPath "$INSTDIR\Plugins"
  WriteUninstaller "$INSTDIR\Plugins\${UNINSTALLER}"
  ${If} ${Errors}
    ; A file that could not be written (and was skipped) must not end in a reported success.
    MessageBox MB_OK|MB_ICONSTOP "Some files could not be written to $INSTDIR\Plugins. ${PRODUCT} is not installed completely; close the player and run setup again." /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Plugins\vis_halcyonsphere.dll,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR\Plugins"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Plugins\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Plugins\${UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR\Plugins\${ASSETS}" "/S=0K" $0 $1 $2
  ${GetSize} "$INSTDIR\Plugins" "/M=vis_halcyonsphere.dll /S=0K /G=0" $1 $2 $3
  IntOp $0 $0 + $1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; $INSTDIR is the Plugins folder here: the uninstaller's own folder.
Section "Uninstall"
  Call un.RequirePlayerClosed
  Delete "$INSTDIR\vis_halcyonsphere.dll"
  !include "${WORK_DIR}/uninstall_assets.nsh"
  ; Only if empty: the options file and the user's own files keep the folder.
  RMDir "$INSTDIR\${ASSETS}"
  Delete "$INSTDIR\${UNINSTALLER}"
  ; The entry may belong to a later install into another player's folder; leave that one alone.
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 == $INSTDIR
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ${EndIf}
  ; The Plugins folder and the player's folder, when setup made them for us alone (no player).
  RMDir "$INSTDIR"
  ${un.GetParent} "$INSTDIR" $0
  RMDir "$0"
SectionEnd
