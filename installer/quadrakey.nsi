; Quadrakey's installer for a Windows PC: for the person who runs it, in
; their own folders, with no administrator. The win32 build makes it
; (installer/CMakeLists.txt), handing over:
;   QK_VERSION  the version shown and stored
;   QK_BIN      the folder of the built programs
;   QK_OUT      the installer's file
; Silent: "/S" installs; the uninstaller takes "/S", and "/REMOVESETTINGS"
; to remove the person's settings as well (kept otherwise).
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true

!ifndef QK_VERSION | QK_BIN | QK_OUT
  !error "makensis needs -DQK_VERSION=... -DQK_BIN=... -DQK_OUT=..."
!endif

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include Sections.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quadrakey"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
; The names the programs themselves use (keylistener/listener_control.h,
; config/tapdeck.cpp, platform/platform.h).
!define RUN_VALUE "Quadrakey Key Listener"
!define SETTINGS_KEY "Software\Quadrakey"
!define TAPDECK_CLASS "Velbrook_QuadrakeyMainWindowClassname"
!define START_MENU_ENTRY "$SMPROGRAMS\Quadrakey.lnk"
!define LOGS "$LOCALAPPDATA\Quadrakey"
; Exit codes of a run that did not finish: something of Quadrakey would not
; end, so nothing was replaced or removed.
!define EXIT_STILL_RUNNING 3

Name "Quadrakey"
OutFile "${QK_OUT}"
InstallDir "$LOCALAPPDATA\Programs\Quadrakey"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "Quadrakey ${QK_VERSION}"
VIProductVersion "${QK_VERSION}.0.0"
VIAddVersionKey /LANG=1033 "ProductName" "Quadrakey"
VIAddVersionKey /LANG=1033 "FileDescription" "Quadrakey setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${QK_VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${QK_VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Quadrakey"

!define MUI_ABORTWARNING
!define MUI_WELCOMEPAGE_TITLE "Quadrakey ${QK_VERSION}"
!define MUI_WELCOMEPAGE_TEXT "Quadrakey gives a spare key of your keyboard four assignments: a single press, a press and hold, a double press, and a double press and hold.$\r$\n$\r$\nIt is installed for you alone, in your own folders, and needs no administrator. It starts its key listener each time you sign in.$\r$\n$\r$\nChoose Install to go on."
!define MUI_FINISHPAGE_TITLE "Quadrakey is installed"
!define MUI_FINISHPAGE_TEXT "Open Quadrakey from the Start Menu to add a key on its Add Buttons page and choose what its presses do."
!define MUI_FINISHPAGE_RUN "$INSTDIR\tapdeck.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Open Quadrakey now"
!define MUI_FINISHPAGE_NOREBOOTSUPPORT
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!define MUI_COMPONENTSPAGE_TEXT_TOP "Quadrakey's programs, its Start Menu entry, its sign-in entry and its logs are removed. Your settings stay for a later installation unless you tick them."
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; ---- What both share ---------------------------------------------------------

; The configuration program holds its files open and has no command that
; ends it: the person closes it.
!macro CLOSE_TAPDECK_FIRST un
Function ${un}CloseTapdeckFirst
  retry:
  FindWindow $0 "${TAPDECK_CLASS}"
  ${If} $0 <> 0
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
      "Quadrakey is open. Close it (Done or Cancel), then choose Retry." /SD IDCANCEL IDRETRY retry
    SetErrorLevel ${EXIT_STILL_RUNNING}
    Abort "Quadrakey is open: nothing was changed."
  ${EndIf}
FunctionEnd
!macroend
!insertmacro CLOSE_TAPDECK_FIRST ""
!insertmacro CLOSE_TAPDECK_FIRST "un."

; Ends the running key listener with the program in $0 ("/quit" returns once
; it has given its keys back): its program can then be replaced or removed.
!macro END_LISTENER un
Function ${un}EndListener
  retry:
  ClearErrors
  ExecWait '"$0" /quit' $1
  ${If} ${Errors}
  ${OrIf} $1 <> 0
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
      "Quadrakey's key listener does not end. Choose Retry to try again, or Cancel to leave everything as it is." \
      /SD IDCANCEL IDRETRY retry
    SetErrorLevel ${EXIT_STILL_RUNNING}
    Abort "The key listener does not end: nothing was changed."
  ${EndIf}
FunctionEnd
!macroend
!insertmacro END_LISTENER ""
!insertmacro END_LISTENER "un."

; ---- Install --------------------------------------------------------------------

Section "Quadrakey" SecMain
  SectionIn RO
  SetShellVarContext current
  Call CloseTapdeckFirst
  ; A listener that runs holds the program about to be replaced, perhaps an
  ; older one: this version's own asks it to end.
  InitPluginsDir
  SetOutPath "$PLUGINSDIR"
  File "/oname=$PLUGINSDIR\TapdeckH.exe" "${QK_BIN}/TapdeckH.exe"
  StrCpy $0 "$PLUGINSDIR\TapdeckH.exe"
  Call EndListener

  SetOutPath "$INSTDIR"
  File "${QK_BIN}/tapdeck.exe"
  File "${QK_BIN}/TapdeckX.exe"
  File "${QK_BIN}/TapdeckH.exe"
  File "${QK_BIN}/Turnscreen.exe"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  CreateShortcut "${START_MENU_ENTRY}" "$INSTDIR\tapdeck.exe" "" "$INSTDIR\tapdeck.exe" 0 SW_SHOWNORMAL "" \
    "Choose Quadrakey's keys and what their presses do"
  ; As tapdeck writes it: the listener's quoted path.
  WriteRegStr HKCU "${RUN_KEY}" "${RUN_VALUE}" '"$INSTDIR\TapdeckH.exe"'

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Quadrakey"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${QK_VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Quadrakey"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tapdeck.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0

  ; As at sign-in: the buttons a person has work again at once (a listener
  ; with none ends by itself).
  Exec '"$INSTDIR\TapdeckH.exe"'
SectionEnd

; ---- Uninstall ------------------------------------------------------------------

; A program that has only just ended can keep its file a few moments longer.
!macro REMOVE_PROGRAM file
  StrCpy $1 0
  ${DoWhile} ${FileExists} "$INSTDIR\${file}"
    Delete "$INSTDIR\${file}"
    ${If} ${FileExists} "$INSTDIR\${file}"
      IntOp $1 $1 + 1
      ${IfThen} $1 >= 20 ${|} ${Break} ${|}
      Sleep 250
    ${EndIf}
  ${Loop}
  ${If} ${FileExists} "$INSTDIR\${file}"
    DetailPrint "$INSTDIR\${file} is in use and stays: remove it once it has ended."
  ${EndIf}
!macroend

Section "un.Quadrakey" UnSecMain
  SectionIn RO
  SetShellVarContext current
  Call un.CloseTapdeckFirst
  ${If} ${FileExists} "$INSTDIR\TapdeckH.exe"
    StrCpy $0 "$INSTDIR\TapdeckH.exe"
    Call un.EndListener
  ${EndIf}

  DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"
  Delete "${START_MENU_ENTRY}"
  !insertmacro REMOVE_PROGRAM "tapdeck.exe"
  !insertmacro REMOVE_PROGRAM "TapdeckX.exe"
  !insertmacro REMOVE_PROGRAM "TapdeckH.exe"
  !insertmacro REMOVE_PROGRAM "Turnscreen.exe"
  ; A device's takeover shortcuts, should any have been made here.
  Delete "$INSTDIR\Tapdeck?.lnk"
  Delete "$INSTDIR\Uninstall.exe"
  ; Only when empty: files the person put there stay, with their folder.
  RMDir "$INSTDIR"

  ; The logs tell of these programs only.
  Delete "${LOGS}\tapdeck.log"
  Delete "${LOGS}\listener.log"
  Delete "${LOGS}\launch.log"
  RMDir "${LOGS}"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd

Section /o "un.Your settings" UnSecSettings
  ; The keys added, what their presses do, and the times.
  DeleteRegKey HKCU "${SETTINGS_KEY}"
SectionEnd

!insertmacro MUI_UNFUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${UnSecMain} "The programs, the Start Menu entry, the sign-in entry and the logs."
  !insertmacro MUI_DESCRIPTION_TEXT ${UnSecSettings} \
    "Your keys and what their presses do (HKEY_CURRENT_USER\Software\Quadrakey). Leave it unticked to keep them for a later installation."
!insertmacro MUI_UNFUNCTION_DESCRIPTION_END

Function un.onInit
  ${un.GetParameters} $0
  ClearErrors
  ${un.GetOptions} $0 "/REMOVESETTINGS" $1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${UnSecSettings}
  ${EndIf}
FunctionEnd
