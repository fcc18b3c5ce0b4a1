; Installer of the Windows program, written by tools/windows/package.sh:
;   makensis -DVERSION=1.0.0 -DSTAGE=<folder of the portable zip> -DFILES=<files.nsh>
;            -DUNFILES=<unfiles.nsh> -DLICENSE_PAGE=<license.txt> -DICON=<halcyon.ico>
;            -DOUTFILE=<setup.exe> halcyon.nsi
; A checkbox (checked) starts the program when the installing user signs in; a silent
; install does the same unless /NOSTARTUP is given.
; FILES installs every file of STAGE and UNFILES deletes exactly those, so the uninstaller
; removes what was installed and nothing else. Neither starts while the installed
; halcyon.exe runs: silent (/S), they exit with 2 and change nothing.

Unicode true
; Debian's Wine runs 64-bit programs only, and the program is 64-bit anyway.
Target amd64-unicode
SetCompressor /SOLID lzma

!define APPNAME "Halcyon压缩"
!define APPKEY "Halcyon"
!define UNINSTKEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${APPKEY}"
; The Application log's source: the Event Viewer finds the texts in halcyon.exe's message table.
!define EVENTKEY "SYSTEM\CurrentControlSet\Services\EventLog\Application\${APPKEY}"

Name "${APPNAME}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${APPKEY}"
InstallDirRegKey HKLM "${UNINSTKEY}" "InstallLocation"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show

!include "MUI2.nsh"
!include "FileFunc.nsh"
!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!insertmacro MUI_PAGE_LICENSE "${LICENSE_PAGE}"
; The folder is known only once chosen: check there for a running program.
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE CheckNotRunning
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"
!insertmacro MUI_LANGUAGE "English"

LangString RUNNING ${LANG_SIMPCHINESE} "${APPNAME} 正在运行（$INSTDIR\halcyon.exe）。$\r$\n请先关闭它的窗口，再点“重试”。"
LangString RUNNING ${LANG_ENGLISH} "${APPNAME} is running ($INSTDIR\halcyon.exe).$\r$\nClose its window, then choose Retry."

; A running program keeps halcyon.exe (and its DLLs) open, and NSIS would skip the files it
; cannot replace or delete and still report success. Windows refuses to open a running
; program's file for writing, Wine too: that is the test. Interactive: retry or cancel
; (exit code 1); silent: exit code 2, nothing changed.
!macro CHECK_NOT_RUNNING UN
Function ${UN}CheckNotRunning
  retry:
  IfFileExists "$INSTDIR\halcyon.exe" 0 done
  ClearErrors
  FileOpen $0 "$INSTDIR\halcyon.exe" a
  IfErrors running
  FileClose $0
  Goto done
  running:
  IfSilent 0 ask
  SetErrorLevel 2
  Quit
  ask:
  MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(RUNNING)" IDRETRY retry
  SetErrorLevel 1
  Quit
  done:
FunctionEnd
!macroend
!insertmacro CHECK_NOT_RUNNING ""
!insertmacro CHECK_NOT_RUNNING "un."


Function un.onInit
  Call un.CheckNotRunning
FunctionEnd

Section "-Install"
  SetRegView 64
  SetOutPath "$INSTDIR"
  !include "${FILES}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The program keeps its path files and reads skin.css in its working directory, and an
  ; asInvoker program cannot write below Program Files: the shortcut starts it in a folder
  ; of the user's own. Both are the installing user's: a shortcut for everybody would point
  ; the others at a folder they do not have, and Windows refuses to start it there.
  SetShellVarContext current
  CreateDirectory "$APPDATA\${APPKEY}"
  SetOutPath "$APPDATA\${APPKEY}"
  CreateShortcut "$SMPROGRAMS\${APPNAME}.lnk" "$INSTDIR\halcyon.exe" "" "$INSTDIR\halcyon.exe" 0
  SetOutPath "$INSTDIR"

  WriteRegStr HKLM "${UNINSTKEY}" "DisplayName" "${APPNAME}"
  WriteRegStr HKLM "${UNINSTKEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTKEY}" "Publisher" "Halcyon maintainers"
  WriteRegStr HKLM "${UNINSTKEY}" "DisplayIcon" "$INSTDIR\halcyon.exe,0"
  WriteRegStr HKLM "${UNINSTKEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTKEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTKEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTKEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTKEY}" "NoRepair" 1
  WriteRegDWORD HKLM "${UNINSTKEY}" "EstimatedSize" ${SIZE_KB}
  WriteRegExpandStr HKLM "${EVENTKEY}" "EventMessageFile" "$INSTDIR\halcyon.exe"
  WriteRegDWORD HKLM "${EVENTKEY}" "TypesSupported" 7
SectionEnd

; The daily mode lives in the running program: started at sign-in, it comes back after a
; reboot or an update's restart. The same shortcut as the Start menu's, the same folder.
Section "登录 Windows 时自动启动 Halcyon压缩" SecStartup
  SetShellVarContext current
  SetOutPath "$APPDATA\${APPKEY}"
  CreateShortcut "$SMSTARTUP\${APPNAME}.lnk" "$INSTDIR\halcyon.exe" "" "$INSTDIR\halcyon.exe" 0
  SetOutPath "$INSTDIR"
SectionEnd

Section "Uninstall"
  SetRegView 64
  !include "${UNFILES}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"

  SetShellVarContext current
  Delete "$SMPROGRAMS\${APPNAME}.lnk"
  Delete "$SMSTARTUP\${APPNAME}.lnk"
  ; Only while empty: the saved paths and skin.css in it are the operator's.
  RMDir "$APPDATA\${APPKEY}"

  DeleteRegKey HKLM "${UNINSTKEY}"
  DeleteRegKey HKLM "${EVENTKEY}"
SectionEnd

; After the sections: it names one.
Function .onInit
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/NOSTARTUP" $1
  IfErrors +2
  SectionSetFlags ${SecStartup} 0
  ; Silent, no page is shown: the folder is known now (the default, the registry or /D=).
  IfSilent 0 +2
  Call CheckNotRunning
FunctionEnd
