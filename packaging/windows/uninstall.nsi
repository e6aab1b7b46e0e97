; SPDX-License-Identifier: GPL-3.0-or-later
; Uninstall.exe, installed beside VELK_LOG.exe by velk_log.nsi: takes away what
; the installer made and nothing else (the decoder's folder and the log files
; stay, and so does an install folder that holds other files).
;
; It is an NSIS installer of its own rather than NSIS's uninstaller: that one
; starts a copy of itself in %TEMP% and ends at once, so whoever ran it
; (a deployment script) is told "done" before anything is removed. This one
; does the work itself and ends when it is done, with status 0 when VELK_LOG
; is gone, 2 when it removed nothing (VELK_LOG was running), 1 when cancelled.
; Only its own file and the then empty folder cannot go while it runs: a copy
; of it in %TEMP% removes them as soon as it has ended, and is itself removed
; at the next start of Windows.
; The build defines VERSION, VIVERSION, OUTFILE and, optionally, ICON.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh

!define SHORTCUT "VELK Logger"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\VELK_LOG"
; The class of VELK_LOG's window.
!define WINDOW_CLASS "VELK_Logging"

Name "VELK_LOG ${VERSION}"
Caption "VELK_LOG ${VERSION} Uninstall"
BrandingText "VELK_LOG ${VERSION}"
OutFile "${OUTFILE}"
ShowInstDetails show

VIProductVersion "${VIVERSION}"
VIAddVersionKey ProductName "VELK_LOG"
VIAddVersionKey ProductVersion "${VERSION}"
VIAddVersionKey FileVersion "${VERSION}"
VIAddVersionKey FileDescription "VELK_LOG ${VERSION} Uninstall"
VIAddVersionKey LegalCopyright "Copyright (C) 2026 The VELK_LOG developers; GPL-3.0-or-later"

!ifdef ICON
  !define MUI_ICON "${ICON}"
!endif

; The folder it removes VELK_LOG from, shown and not to be changed.
!define MUI_PAGE_HEADER_TEXT "Uninstall VELK_LOG"
!define MUI_PAGE_HEADER_SUBTEXT "Remove VELK_LOG from this computer."
!define MUI_DIRECTORYPAGE_TEXT_TOP "VELK_LOG will be removed from the folder below. The decoder's folder and the log files stay. Click Uninstall to go on."
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "Uninstalling from"
!define MUI_PAGE_CUSTOMFUNCTION_SHOW ShowFolder
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_LANGUAGE English

Function .onInit
  ; The copy: /AFTER=process /D=folder.
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/AFTER=" $1
  ${IfNot} ${Errors}
    System::Call 'kernel32::OpenProcess(i 0x100000, i 0, i r1) p .r2'
    ${If} $2 P<> 0
      System::Call 'kernel32::WaitForSingleObject(p r2, i 60000)'
      System::Call 'kernel32::CloseHandle(p r2)'
    ${EndIf}
    Delete "$INSTDIR\Uninstall.exe"
    RMDir "$INSTDIR"
    Delete /REBOOTOK "$EXEPATH"
    Quit
  ${EndIf}
  StrCpy $INSTDIR $EXEDIR
FunctionEnd

Function ShowFolder
  FindWindow $0 "#32770" "" $HWNDPARENT
  GetDlgItem $1 $0 1019
  SendMessage $1 ${EM_SETREADONLY} 1 0
  ${ForEach} $2 1023 1024 + 1
    GetDlgItem $1 $0 $2
    ShowWindow $1 ${SW_HIDE}
  ${Next}
  GetDlgItem $1 $0 1001
  ShowWindow $1 ${SW_HIDE}
  GetDlgItem $1 $HWNDPARENT 1
  SendMessage $1 ${WM_SETTEXT} 0 "STR:Uninstall"
FunctionEnd

Section
  SetDetailsPrint both
  ; Windows keeps a running program's file, Wine does not: the window tells.
  ; The operator closes VELK_LOG first, or nothing is removed.
retry:
  FindWindow $0 "${WINDOW_CLASS}"
  ${If} $0 = 0
    Delete "$INSTDIR\VELK_LOG.exe"
  ${EndIf}
  ${If} $0 <> 0
  ${OrIf} ${FileExists} "$INSTDIR\VELK_LOG.exe"
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
      "VELK_LOG is running. Close its window, then click Retry." /SD IDCANCEL IDRETRY retry
    Abort "VELK_LOG is running: nothing was removed."
  ${EndIf}
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\LICENSE.txt"
  ; The operator's own folder goes once nothing is in it: a rescue file
  ; there holds records that never reached the log, and stays.
  SetShellVarContext current
  RMDir "$LOCALAPPDATA\VELK_LOG"
  SetShellVarContext all
  Delete "$SMPROGRAMS\${SHORTCUT}.lnk"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"

  ; Its own file and the folder, once it has ended.
  SetOutPath "$TEMP"
  GetTempFileName $0
  CopyFiles /SILENT "$EXEPATH" $0
  System::Call 'kernel32::GetCurrentProcessId() i .r1'
  Exec '"$0" /AFTER=$1 /D=$INSTDIR'
SectionEnd
