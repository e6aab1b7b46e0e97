; SPDX-License-Identifier: GPL-3.0-or-later
; The VELK_LOG installer: VELK_LOG.exe with its README.txt and LICENSE.txt in
; Program Files, a Start-menu shortcut that starts it in a folder it can write
; its log to, and an uninstaller (Uninstall.exe, made from uninstall.nsi) that
; takes all of it away again. The windows build makes it (target
; windows_package), defining
;   VERSION      the project's version, e.g. 1.0.0
;   VIVERSION    the same in four parts, e.g. 1.0.0.0
;   EXE          the VELK_LOG.exe to install
;   README       README.txt and LICENSE.txt to install beside it; the licence
;   LICENSE      is also shown on the installer's first page
;   UNINSTALLER  the Uninstall.exe to install
;   OUTFILE      the installer to write
;   ICON         optional: the program's icon, for the installer
;
; Silent install, for deployment scripts:
;   VELK_LOG-1.0.0-setup.exe /S [/DATADIR=C:\Decoder] [/D=C:\Program Files\VELK_LOG]
; /DATADIR= is the decoder's folder, an existing one (in double quotes when it
; holds spaces, either around the folder or around the whole argument; without
; it the installer's guess below is taken); /D= is the install folder, unquoted
; and last, as for every NSIS installer. The installer says what it decided, or
; why it refused, in %TEMP%\VELK_LOG-setup.log; a refusal exits with status 2.
; Silent uninstall, which waits until everything is gone:
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
; Where VELK_LOG looks for ALL.TXT when the folder it was started in has none.
!define FALLBACK_DIR "C:\Program Files\VELK"
!define SETUP_LOG "$TEMP\VELK_LOG-setup.log"
!define COPYRIGHT "Copyright (C) 2026 The VELK_LOG developers; GPL-3.0-or-later"

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
VIAddVersionKey LegalCopyright "${COPYRIGHT}"

; The decoder's folder, where ALL.TXT is written.
Var DataDir
; The folder the shortcut starts VELK_LOG in, where it writes its log: the
; decoder's folder when the operator can write there, else one of their own.
Var WorkDir
; Why $DataDir cannot be taken, or empty.
Var Problem
; 1 while the decoder's folder page is shown.
Var OnDataPage

!ifdef ICON
  !define MUI_ICON "${ICON}"
!endif
!define MUI_ABORTWARNING

!define MUI_LICENSEPAGE_TEXT_TOP "VELK_LOG is free software under the GNU General Public License, version 3 or (at your option) any later version."
!define MUI_LICENSEPAGE_TEXT_BOTTOM "You need not accept this licence to install or run VELK_LOG; it says what you may do when you copy, share or change it."
!define MUI_LICENSEPAGE_BUTTON "$(^NextBtn)"
!insertmacro MUI_PAGE_LICENSE "${LICENSE}"

!define MUI_PAGE_CUSTOMFUNCTION_SHOW ShowInstallPage
!insertmacro MUI_PAGE_DIRECTORY

!define MUI_PAGE_HEADER_TEXT "Decoder Folder"
!define MUI_PAGE_HEADER_SUBTEXT "Choose the folder where the decoder writes ALL.TXT."
!define MUI_DIRECTORYPAGE_TEXT_TOP "VELK_LOG follows ALL.TXT in the decoder's folder. It writes its log file there when you can write to that folder; under Program Files, where you cannot, it writes to a folder of your own and finds ALL.TXT in ${FALLBACK_DIR}."
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "Decoder Folder"
!define MUI_DIRECTORYPAGE_VARIABLE $DataDir
!define MUI_PAGE_CUSTOMFUNCTION_SHOW ShowDataPage
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE CheckDataPage
!insertmacro MUI_PAGE_DIRECTORY

!insertmacro MUI_PAGE_INSTFILES

!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Start ${SHORTCUT}"
!define MUI_FINISHPAGE_RUN_FUNCTION StartFromShortcut
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_LANGUAGE English

; Appends the line on the stack to the setup log, and to the details shown.
Function LogLine
  Exch $0
  Push $1
  DetailPrint $0
  FileOpen $1 "${SETUP_LOG}" a
  FileSeek $1 0 END
  FileWrite $1 "VELK_LOG ${VERSION} setup: $0$\r$\n"
  FileClose $1
  Pop $1
  Pop $0
FunctionEnd
!macro LogLine TEXT
  Push "${TEXT}"
  Call LogLine
!macroend

; Says no: the reason in the setup log and, unless silent, in a message box;
; then ends the installer with status 2.
!macro Refuse TEXT
  !insertmacro LogLine "${TEXT}"
  MessageBox MB_ICONSTOP "${TEXT}" /SD IDOK
  SetErrorLevel 2
  Quit
!macroend

; 1 in $R4 when the folder $R0 is the folder $R5 or inside it.
Function IsInside
  StrLen $R4 $R5
  StrCpy $R6 $R0 $R4
  StrCpy $R7 $R0 1 $R4
  StrCpy $R4 0
  ${If} $R6 == $R5
    ${If} $R7 == ""
    ${OrIf} $R7 == "\"
      StrCpy $R4 1
    ${EndIf}
  ${EndIf}
FunctionEnd

; Decides from the decoder's folder $DataDir the folder VELK_LOG works in
; ($WorkDir), or why the folder cannot be taken ($Problem). With WRITE 1 it
; also tries writing there (with the installer's rights, not the operator's:
; that catches read-only drives and shares; Program Files is known).
!macro CheckDataDir WRITE
  Push ${WRITE}
  Call CheckDataDir
!macroend
Function CheckDataDir
  Exch $R3
  Push $R0
  Push $R1
  Push $R4
  Push $R5
  Push $R6
  Push $R7
  StrCpy $Problem ""
  StrCpy $WorkDir ""
  ; No backslash at the end but for a drive's root.
  StrCpy $R0 $DataDir
  StrCpy $R1 $R0 1 -1
  StrCpy $R4 $R0 2 -2
  ${If} $R1 == "\"
  ${AndIf} $R4 != ":\"
    StrCpy $R0 $R0 -1
  ${EndIf}
  StrCpy $DataDir $R0
  StrCpy $R1 $R0 2 1
  StrCpy $R4 $R0 2
  ${If} $R1 != ":\"
  ${AndIf} $R4 != "\\"
    StrCpy $Problem "The decoder's folder must be a full path, such as C:\Decoder: $R0"
    Goto done
  ${EndIf}
  System::Call 'kernel32::GetFileAttributesW(w R0) i .R4'
  IntOp $R5 $R4 & 0x10
  ${If} $R4 = -1
  ${OrIf} $R5 = 0
    StrCpy $R4 $R0 3
    System::Call 'kernel32::GetDriveTypeW(w R4) i .R4'
    StrCpy $R5 $R0 2
    ${If} $R1 == ":\"
    ${AndIf} $R4 <= 1
      StrCpy $Problem "There is no drive $R5 for the decoder's folder $R0."
    ${Else}
      StrCpy $Problem "The decoder's folder $R0 does not exist."
    ${EndIf}
    Goto done
  ${EndIf}
  StrCpy $WorkDir $R0
  StrCpy $R5 "$PROGRAMFILES64"
  Call IsInside
  StrCpy $R1 $R4
  StrCpy $R5 "$PROGRAMFILES32"
  Call IsInside
  IntOp $R1 $R1 | $R4
  ${If} $R1 = 0
  ${AndIf} $R3 = 1
    ClearErrors
    FileOpen $R4 "$R0\~VELK_LOG-setup.tmp" w
    ${If} ${Errors}
      StrCpy $R1 1
    ${Else}
      FileClose $R4
      Delete "$R0\~VELK_LOG-setup.tmp"
    ${EndIf}
  ${EndIf}
  ${If} $R1 = 1
    ${If} $R0 == "${FALLBACK_DIR}"
      StrCpy $WorkDir "$DOCUMENTS\VELK_LOG"
    ${Else}
      StrCpy $WorkDir ""
      StrCpy $Problem "VELK_LOG cannot write its log in $R0, and outside the folder it is started in it finds ALL.TXT only in ${FALLBACK_DIR}."
    ${EndIf}
  ${EndIf}
done:
  Pop $R7
  Pop $R6
  Pop $R5
  Pop $R4
  Pop $R1
  Pop $R0
  Pop $R3
FunctionEnd

; The decoder's folder takes no room: the first of the space figures on its
; page, as wide as the folder's box and two lines high, says instead where the
; log goes.
Function ShowDataPage
  StrCpy $OnDataPage 1
  FindWindow $0 "#32770" "" $HWNDPARENT
  GetDlgItem $1 $0 1024
  ShowWindow $1 ${SW_HIDE}
  System::Call '*(i, i, i, i) p .r2'
  GetDlgItem $1 $0 1020
  System::Call 'user32::GetWindowRect(p r1, p r2)'
  System::Call '*$2(i .r3, i, i .r4, i)'
  GetDlgItem $1 $0 1023
  System::Call 'user32::GetWindowRect(p r1, p r2)'
  System::Call '*$2(i, i .r5, i, i .r6)'
  System::Free $2
  IntOp $3 $4 - $3
  IntOp $5 $6 - $5
  IntOp $5 $5 * 2
  System::Call 'user32::SetWindowPos(p r1, p 0, i 0, i 0, i r3, i r5, i 0x16)'
  Call ShowLogFolder
FunctionEnd

Function ShowInstallPage
  StrCpy $OnDataPage 0
FunctionEnd

Function ShowLogFolder
  FindWindow $0 "#32770" "" $HWNDPARENT
  GetDlgItem $1 $0 1023
  !insertmacro CheckDataDir 0
  ${If} $Problem != ""
    SendMessage $1 ${WM_SETTEXT} 0 "STR:$Problem"
  ${Else}
    SendMessage $1 ${WM_SETTEXT} 0 "STR:VELK_LOG will write its log file in $WorkDir."
  ${EndIf}
FunctionEnd

; Runs on every change of a folder on a directory page.
Function .onVerifyInstDir
  ${If} $OnDataPage = 1
    Call ShowLogFolder
    ${If} $Problem != ""
      Abort
    ${EndIf}
  ${EndIf}
FunctionEnd

Function CheckDataPage
  !insertmacro CheckDataDir 1
  ${If} $Problem != ""
    MessageBox MB_ICONSTOP $Problem
    Abort
  ${EndIf}
  StrCpy $OnDataPage 0
FunctionEnd

; Takes DIR as the guess when none is made yet, DIR\NAME exists and VELK_LOG
; can work with DIR.
!macro GuessDataDir DIR NAME
  ${If} $DataDir == ""
  ${AndIf} ${FileExists} "${DIR}\${NAME}"
    StrCpy $DataDir "${DIR}"
    !insertmacro CheckDataDir 0
    ${If} $Problem != ""
      StrCpy $DataDir ""
    ${EndIf}
  ${EndIf}
!macroend

; The folder chosen at the last install; else a decoder folder in the usual
; places, one that holds ALL.TXT first; else the operator's Documents.
Function GuessDataDir
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" DecoderFolder
  !insertmacro GuessDataDir "$0" "*.*"
  !insertmacro GuessDataDir "${FALLBACK_DIR}" ALL.TXT
  !insertmacro GuessDataDir "$LOCALAPPDATA\VELK" ALL.TXT
  !insertmacro GuessDataDir "$DOCUMENTS\VELK" ALL.TXT
  !insertmacro GuessDataDir "${FALLBACK_DIR}" "*.*"
  !insertmacro GuessDataDir "$LOCALAPPDATA\VELK" "*.*"
  !insertmacro GuessDataDir "$DOCUMENTS\VELK" "*.*"
  ${If} $DataDir == ""
    StrCpy $DataDir "$DOCUMENTS"
  ${EndIf}
FunctionEnd

; Reads /DATADIR= from the command line, split into arguments as Windows
; programs split theirs: blanks part them, double quotes group and go. So
; /DATADIR="C:\Decoder Data" and "/DATADIR=C:\Decoder Data" read alike. A
; /DATADIR without "=", an empty or a second one, a word that is no option
; (what a folder with spaces left unquoted leaves behind) and an unclosed
; quote are refused; everything from NSIS's own /D= on is its install folder.
Function ReadOptions
  ${GetParameters} $R0
  StrCpy $R1 0  ; position
  StrCpy $R2 "" ; the argument so far
  StrCpy $R3 0  ; inside quotes
  StrCpy $R4 0  ; an argument begun
  StrLen $R5 $R0
  ${Do}
    StrCpy $R6 $R0 1 $R1
    IntOp $R1 $R1 + 1
    StrCpy $R7 0 ; an argument ends here
    ${If} $R1 > $R5
      StrCpy $R7 1
    ${ElseIf} $R3 = 0
      ${If} $R6 == " "
      ${OrIf} $R6 == "$\t"
        StrCpy $R7 1
      ${EndIf}
    ${EndIf}
    ${If} $R7 = 0
      ${If} $R6 == '"'
        IntOp $R3 1 - $R3
      ${Else}
        StrCpy $R2 "$R2$R6"
      ${EndIf}
      StrCpy $R4 1
      ${Continue}
    ${EndIf}
    ${If} $R4 = 1
      StrCpy $R6 $R2 3
      ${If} $R6 S== "/D="
        ${Break}
      ${EndIf}
      StrCpy $R6 $R2 9
      StrCpy $R7 $R2 1
      ${If} $R6 == "/DATADIR="
        ${If} $DataDir != ""
          !insertmacro Refuse "/DATADIR is given twice: $R0"
        ${EndIf}
        StrCpy $DataDir $R2 "" 9
        ${If} $DataDir == ""
          !insertmacro Refuse "/DATADIR= names no folder: $R0"
        ${EndIf}
      ${Else}
        StrCpy $R6 $R2 8
        ${If} $R6 == "/DATADIR"
        ${OrIf} $R7 != "/"
          !insertmacro Refuse "Cannot read the argument $\"$R2$\" (a decoder's folder is given as /DATADIR=$\"C:\Decoder Folder$\"): $R0"
        ${EndIf}
      ${EndIf}
    ${EndIf}
    ${If} $R1 > $R5
      ${Break}
    ${EndIf}
    StrCpy $R2 ""
    StrCpy $R4 0
  ${Loop}
  ${If} $R3 = 1
    !insertmacro Refuse "A double quote is not closed: $R0"
  ${EndIf}
FunctionEnd

Function .onInit
  StrCpy $DataDir ""
  Call ReadOptions
  ${If} $DataDir == ""
    Call GuessDataDir
  ${Else}
    !insertmacro CheckDataDir 1
    ${If} $Problem != ""
      ; The operator can choose another on the decoder's folder page.
      ${If} ${Silent}
        !insertmacro Refuse "$Problem"
      ${EndIf}
      MessageBox MB_ICONEXCLAMATION "$Problem$\r$\nChoose the decoder's folder on the Decoder Folder page."
    ${EndIf}
  ${EndIf}
FunctionEnd

; From the shortcut, so that VELK_LOG starts where the shortcut says.
Function StartFromShortcut
  SetShellVarContext all
  ExecShell "" "$SMPROGRAMS\${SHORTCUT}.lnk"
FunctionEnd

Section
  ; Once more with what is there now; $DOCUMENTS is the operator's here.
  !insertmacro CheckDataDir 1
  ${If} $Problem != ""
    !insertmacro Refuse "$Problem"
  ${EndIf}
  ${If} $WorkDir != $DataDir
    CreateDirectory "$WorkDir"
    !insertmacro LogLine "Operators cannot write in $DataDir: the shortcut starts VELK_LOG in $WorkDir, where it writes its log, and it follows ${FALLBACK_DIR}\ALL.TXT."
  ${EndIf}

  SetOutPath "$INSTDIR"
  File "/oname=VELK_LOG.exe" "${EXE}"
  File "/oname=README.txt" "${README}"
  File "/oname=LICENSE.txt" "${LICENSE}"
  File "/oname=Uninstall.exe" "${UNINSTALLER}"

  ; CreateShortcut makes the output folder the shortcut's working folder.
  SetShellVarContext all
  SetOutPath "$WorkDir"
  CreateShortcut "$SMPROGRAMS\${SHORTCUT}.lnk" "$INSTDIR\VELK_LOG.exe" "" \
    "$INSTDIR\VELK_LOG.exe" 0 SW_SHOWNORMAL "" \
    "Follows the decoder's ALL.TXT in $DataDir and logs its decodes in $WorkDir"
  SetOutPath "$INSTDIR"

  WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayName "VELK_LOG"
  WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayVersion "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" Publisher "VELK_LOG developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayIcon "$INSTDIR\VELK_LOG.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" InstallLocation "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" UninstallString '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" QuietUninstallString '"$INSTDIR\Uninstall.exe" /S'
  WriteRegStr HKLM "${UNINSTALL_KEY}" DecoderFolder "$DataDir"
  WriteRegStr HKLM "${UNINSTALL_KEY}" WorkingFolder "$WorkDir"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" NoModify 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" NoRepair 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" EstimatedSize $0
  !insertmacro LogLine "Installed in $INSTDIR; the shortcut starts VELK_LOG in $WorkDir."
SectionEnd
