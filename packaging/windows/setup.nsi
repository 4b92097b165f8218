; The Windows setup program. packaging/windows/make-setup.sh runs makensis on
; it with VERSION, STAGE (the folder `cmake --install` filled with the
; programs) and OUTFILE defined. Works with /S (silent) for both the setup
; program and its uninstaller.
Unicode true
SetCompressor /SOLID lzma

!ifndef VERSION | STAGE | OUTFILE
  !error "makensis needs -DVERSION=, -DSTAGE= and -DOUTFILE="
!endif

!define PRODUCT "Lumora ZuvIridar for iPhone"
!define PUBLISHER "Quillon Labs"
!define SERVICE "Lumora Wave Service"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define APP_KEY "Software\${PUBLISHER}\${PRODUCT}"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\${PUBLISHER}\${PRODUCT}"
; An earlier version's folder wins, so an upgrade lands on top of it.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
BrandingText "${PUBLISHER}"

VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (C) ${PUBLISHER}"

!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\server.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Run now"
; The finish page's second box is the "read me" one, put to our use.
!define MUI_FINISHPAGE_SHOWREADME
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Start with Windows"
!define MUI_FINISHPAGE_SHOWREADME_FUNCTION StartWithWindows
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; The same entry the program's settings dialog writes, so its box agrees.
Function StartWithWindows
  WriteRegStr HKCU "${RUN_KEY}" "${PRODUCT}" "$INSTDIR\server.exe -minimize"
  WriteRegDWORD HKCU "${APP_KEY}" "RunOnStartup" 1
FunctionEnd

; A running server and the service hold the files open: close the one
; through its "exit" switch (it waits until the window is gone) and stop the
; other. Both are quiet when there is nothing to stop.
!macro StopPrograms un
Function ${un}StopPrograms
  ${If} ${FileExists} "$INSTDIR\server.exe"
    ExecWait '"$INSTDIR\server.exe" -exit'
  ${EndIf}
  nsExec::ExecToLog 'net stop "${SERVICE}"'
  Pop $0
FunctionEnd
!macroend
!insertmacro StopPrograms ""
!insertmacro StopPrograms "un."

Section "Install"
  SetShellVarContext all
  Call StopPrograms
  ; An upgrade registers the service again, in case the folder changed.
  ${If} ${FileExists} "$INSTDIR\wavehost.exe"
    nsExec::ExecToLog '"$INSTDIR\wavehost.exe" remove'
    Pop $0
  ${EndIf}

  SetOutPath "$INSTDIR"
  File "${STAGE}\server.exe"
  File "${STAGE}\support.exe"
  File "${STAGE}\wavehost.exe"
  File "${STAGE}\defprobe.exe"
  File "${STAGE}\lang.dll"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  nsExec::ExecToLog '"$INSTDIR\wavehost.exe" install'
  Pop $0
  ${If} $0 != 0
    DetailPrint "The wave service could not be registered ($0)"
  ${Else}
    nsExec::ExecToLog 'net start "${SERVICE}"'
    Pop $0
  ${EndIf}

  CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\server.exe" "" "$INSTDIR\server.exe" 0

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\server.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

; Removes what the setup program put down and nothing of the user's: the
; settings key, the logs, snapshots and recordings stay.
Section "Uninstall"
  SetShellVarContext all
  Call un.StopPrograms
  nsExec::ExecToLog '"$INSTDIR\wavehost.exe" remove'
  Pop $0

  Delete "$INSTDIR\server.exe"
  Delete "$INSTDIR\support.exe"
  Delete "$INSTDIR\wavehost.exe"
  Delete "$INSTDIR\defprobe.exe"
  Delete "$INSTDIR\lang.dll"
  ; Written beside the programs when no other place is given.
  Delete "$INSTDIR\wavehost-trace.log"
  Delete "$INSTDIR\debug.log"
  Delete "$INSTDIR\uninstall.exe"
  ; Only when empty: the folder may hold something of the user's.
  RMDir "$INSTDIR"
  RMDir "$INSTDIR\.."

  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  ; The start-with-Windows entry would name a program that is gone.
  DeleteRegValue HKCU "${RUN_KEY}" "${PRODUCT}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
