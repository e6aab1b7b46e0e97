; The VELK_LOG installer: VELK_LOG.exe in Program Files, a Start-menu shortcut
; that starts it in the folder where the decoder writes ALL.TXT (the folder it
; follows and writes its log to), and an uninstaller that takes all of it away
; again. The windows build makes it (target windows_package), defining
;   VERSION    the project's version, e.g. 1.0.0
;   VIVERSION  the same in four parts, e.g. 1.0.0.0
;   EXE        the VELK_LOG.exe to install
;   OUTFILE    the installer to write
;   ICON       optional: the program's icon, for the installer and uninstaller
;
; Silent install, for deployment scripts:
;   VELK_LOG-1.0.0-setup.exe /S [/DATADIR=C:\Decoder] [/D=C:\Program Files\VELK_LOG]
; /DATADIR= is the decoder's folder (in double quotes when it holds spaces;
; without it the installer's guess below is taken); /D= is the install folder,
; unquoted and last, as for every NSIS installer. Silent uninstall:
;   "C:\Program Files\VELK_LOG\Uninstall.exe" /S

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!include MUI2.nsh
!include FileFunc.nsh
!include LogicLib.nsh

!define SHORTCUT "VELK Logger"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\VELK_LOG"

Name "VELK_LOG ${VERSION}"
BrandingText "VELK_LOG ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\VELK_LOG"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" InstallLocation

VIProductVersion "${VIVERSION}"
VIAddVersionKey ProductName "VELK_LOG"
VIAddVersionKey ProductVersion "${VERSION}"
VIAddVersionKey FileVersion "${VERSION}"
VIAddVersionKey FileDescription "VELK_LOG ${VERSION} Setup"
VIAddVersionKey LegalCopyright "VELK_LOG developers"

; The folder the shortcut starts VELK_LOG in.
Var DataDir

!ifdef ICON
  !define MUI_ICON "${ICON}"
  !define MUI_UNICON "${ICON}"
!endif
!define MUI_ABORTWARNING

!insertmacro MUI_PAGE_DIRECTORY

!define MUI_PAGE_HEADER_TEXT "Decoder Folder"
!define MUI_PAGE_HEADER_SUBTEXT "Choose the folder where the decoder writes ALL.TXT."
!define MUI_DIRECTORYPAGE_TEXT_TOP "VELK_LOG follows ALL.TXT in the folder it is started in and writes its log file there. The Start-menu shortcut starts it in the folder below."
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "Decoder Folder"
!define MUI_DIRECTORYPAGE_VARIABLE $DataDir
!define MUI_PAGE_CUSTOMFUNCTION_SHOW HideSpaceFigures
!insertmacro MUI_PAGE_DIRECTORY

!insertmacro MUI_PAGE_INSTFILES

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE English

; The decoder's folder takes no room: no space required or available on its page.
Function HideSpaceFigures
  FindWindow $0 "#32770" "" $HWNDPARENT
  GetDlgItem $1 $0 1023
  ShowWindow $1 ${SW_HIDE}
  GetDlgItem $1 $0 1024
  ShowWindow $1 ${SW_HIDE}
FunctionEnd

; Takes DIR as the guess when none is made yet and DIR\NAME exists.
!macro GuessDataDir DIR NAME
  ${If} $DataDir == ""
  ${AndIf} ${FileExists} "${DIR}\${NAME}"
    StrCpy $DataDir "${DIR}"
  ${EndIf}
!macroend

; The folder chosen at the last install; else a decoder folder in the usual
; places, one that holds ALL.TXT first; else the operator's Documents.
Function GuessDataDir
  ReadRegStr $DataDir HKLM "${UNINSTALL_KEY}" DecoderFolder
  ${IfNot} ${FileExists} "$DataDir\*.*"
    StrCpy $DataDir ""
  ${EndIf}
  !insertmacro GuessDataDir "$PROGRAMFILES64\VELK" ALL.TXT
  !insertmacro GuessDataDir "$PROGRAMFILES32\VELK" ALL.TXT
  !insertmacro GuessDataDir "$LOCALAPPDATA\VELK" ALL.TXT
  !insertmacro GuessDataDir "$DOCUMENTS\VELK" ALL.TXT
  !insertmacro GuessDataDir "$PROGRAMFILES64\VELK" "*.*"
  !insertmacro GuessDataDir "$PROGRAMFILES32\VELK" "*.*"
  !insertmacro GuessDataDir "$LOCALAPPDATA\VELK" "*.*"
  !insertmacro GuessDataDir "$DOCUMENTS\VELK" "*.*"
  ${If} $DataDir == ""
    StrCpy $DataDir "$DOCUMENTS"
  ${EndIf}
FunctionEnd

Function .onInit
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/DATADIR=" $DataDir
  ${If} ${Errors}
  ${OrIf} $DataDir == ""
    Call GuessDataDir
  ${EndIf}
  ; A silent install has no page to refuse a relative folder.
  StrCpy $1 $DataDir 2 1
  StrCpy $2 $DataDir 2
  ${If} $1 != ":\"
  ${AndIf} $2 != "\\"
    ${IfNot} ${Silent}
      MessageBox MB_ICONSTOP "The decoder's folder must be a full path: $DataDir"
    ${EndIf}
    SetErrorLevel 2
    Quit
  ${EndIf}
FunctionEnd

Section
  SetOutPath "$INSTDIR"
  File "/oname=VELK_LOG.exe" "${EXE}"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  ; CreateShortcut makes the output folder the shortcut's working folder.
  SetShellVarContext all
  SetOutPath "$DataDir"
  CreateShortcut "$SMPROGRAMS\${SHORTCUT}.lnk" "$INSTDIR\VELK_LOG.exe" "" \
    "$INSTDIR\VELK_LOG.exe" 0 SW_SHOWNORMAL "" \
    "Follows the decoder's ALL.TXT in $DataDir and logs its decodes"
  SetOutPath "$INSTDIR"

  WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayName "VELK_LOG"
  WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayVersion "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" Publisher "VELK_LOG developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayIcon "$INSTDIR\VELK_LOG.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" InstallLocation "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" UninstallString '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" QuietUninstallString '"$INSTDIR\Uninstall.exe" /S'
  WriteRegStr HKLM "${UNINSTALL_KEY}" DecoderFolder "$DataDir"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" NoModify 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" NoRepair 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" EstimatedSize $0
SectionEnd

Function un.onInit
  SetShellVarContext all
FunctionEnd

; Takes away what the installer made and nothing else: the decoder's folder and
; the log files in it stay, and so does an install folder that holds other files.
Section Uninstall
  ; Windows keeps a running program's file: the operator closes VELK_LOG
  ; first, or the uninstall stops with everything still in place.
retry:
  Delete "$INSTDIR\VELK_LOG.exe"
  ${If} ${FileExists} "$INSTDIR\VELK_LOG.exe"
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
      "VELK_LOG is running. Close its window, then click Retry." /SD IDCANCEL IDRETRY retry
    Abort "VELK_LOG is running: nothing was removed."
  ${EndIf}
  Delete "$SMPROGRAMS\${SHORTCUT}.lnk"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
