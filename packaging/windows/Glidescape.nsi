; Glidescape.nsi - the Windows installer, Glidescape-<version>-setup.exe.
;
;   makensis -DVERSION=1.1.0 -DSAVER64=x64\Glidescape.scr -DSAVER32=x86\Glidescape.scr
;            -DICON=Glidescape.ico -DLICENSE=LICENSE.txt -DOUTFILE=setup.exe
;            [-DTARGET_AMD64] Glidescape.nsi
;
; Installs the 64-bit saver into the 64-bit system folder (file-system
; redirection off) on 64-bit Windows and the 32-bit one on 32-bit Windows,
; registers an uninstaller under Add/Remove Programs, and offers to make
; Glidescape the current screen saver and to open the Screen Saver settings.
;
; Silent mode: /S installs without asking; /CURRENT also makes Glidescape the
; current screen saver (a silent install never changes it unasked). The
; uninstaller's /S removes the saver and its registry entries and keeps the
; user's settings file; /REMOVESETTINGS removes that too.
;
; A running saver - full screen, or the preview the Screen Saver settings keep
; running while they are open - locks its file against writing and deleting.
; The installer then leaves the new saver beside it and has Windows put it in
; place when it restarts; the uninstaller has Windows delete it when it
; restarts and keeps the uninstall entry and Uninstall.exe (run again after the
; restart, it finishes). Both then say so: the finish page offers the restart,
; the uninstaller shows a message, and in silent mode they exit with 3010
; (restart required). Any other failure to write or to schedule a file stops
; the run with a message and exit code 2, never with a question left open in
; silent mode.
;
; The shipped installer is a 32-bit program so that it runs on every Windows;
; TARGET_AMD64 builds the same installer as a 64-bit program (the test suite
; runs it on a Wine that has no 32-bit side).

Unicode true
; LogicLib leaves labels of its own unused in every ${If} without an ${Else}.
!pragma warning disable 6012
!ifdef TARGET_AMD64
Target amd64-unicode
!endif

!include "LogicLib.nsh"
!include "x64.nsh"
!include "FileFunc.nsh"
!include "MUI2.nsh"

!define PRODUCT "Glidescape"
!define PUBLISHER "Quillon Software"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Glidescape"
!define DESKTOP_KEY "Control Panel\Desktop"
!define EXIT_FAILED 2                  ; what NSIS returns when a script aborts
!define EXIT_RESTART_REQUIRED 3010     ; ERROR_SUCCESS_REBOOT_REQUIRED
!define ERROR_SHARING_VIOLATION 32
!define ERROR_LOCK_VIOLATION 33
!define MOVEFILE_REPLACE_EXISTING 1
!define MOVEFILE_DELAY_UNTIL_REBOOT 4

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\${PRODUCT}"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} installer"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "Copyright (C) ${PUBLISHER}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_FINISHPAGE_NOAUTOCLOSE
; When the new saver waits for a restart, the finish page offers one; a
; screen saver is no reason to close the user's work unasked.
!define MUI_FINISHPAGE_REBOOTLATER_DEFAULT
!insertmacro MUI_PAGE_LICENSE "${LICENSE}"
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Var SaverPath  ; where the saver lands, as the 64-bit side names it

; The saver's path, set for the running Windows (with redirection off on
; 64-bit Windows, System32 is the 64-bit system folder).
!macro FindSaverPath
  ${If} ${RunningX64}
    StrCpy $SaverPath "$WINDIR\System32\Glidescape.scr"
  ${Else}
    StrCpy $SaverPath "$SYSDIR\Glidescape.scr"
  ${EndIf}
!macroend

; Stops the run: says why (a message box, none in silent mode) and exits with
; EXIT_FAILED.
!macro Fail TEXT
  DetailPrint "${TEXT}"
  MessageBox MB_OK|MB_ICONSTOP "${TEXT}" /SD IDOK
  SetErrorLevel ${EXIT_FAILED}
  Abort "${TEXT}"
!macroend

; Files beside the saver while Windows has work left for its restart:
;   $SaverPath.<ms since boot>.new  the new saver that replaces the one in use.
;       A later run calls the move off by deleting this file; as every run
;       takes a new name, a move called off never finds a later run's file.
;   $SaverPath.removing  there while the saver's deletion is recorded (Windows
;       deletes it at the same restart): a new saver then waits for the
;       restart as well, or the deletion would take it along.

; Has Windows move FROM to TO (an empty TO deletes FROM) when it restarts.
; Sets the reboot flag, or the error flag when Windows refused to record it.
; Called with the file system redirection off, so that the 64-bit system
; folder is what gets recorded.
!macro AtRestart FROM TO
  StrCpy $R1 "${FROM}"
  StrCpy $R2 "${TO}"
  ${If} $R2 == ""
    System::Call 'kernel32::MoveFileExW(w R1, p 0, i ${MOVEFILE_DELAY_UNTIL_REBOOT}) i .R0'
  ${Else}
    System::Call 'kernel32::MoveFileExW(w R1, w R2, i ${MOVEFILE_DELAY_UNTIL_REBOOT}|${MOVEFILE_REPLACE_EXISTING}) i .R0'
  ${EndIf}
  ${If} $R0 == 0
    SetErrors
  ${Else}
    SetRebootFlag true
  ${EndIf}
!macroend

; $R0 is 1 when the saver at $SaverPath is in use: opening it for writing
; fails because another process holds it (a running saver's image), else 0.
Function SaverInUse
  StrCpy $R5 $SaverPath
  ; GENERIC_WRITE, every sharing allowed, OPEN_EXISTING.
  System::Call 'kernel32::CreateFileW(w R5, i 0x40000000, i 7, p 0, i 3, i 0, p 0) p .R1 ?e'
  Pop $R2
  StrCpy $R0 0
  ${If} $R1 == -1
    ${If} $R2 == ${ERROR_SHARING_VIOLATION}
    ${OrIf} $R2 == ${ERROR_LOCK_VIOLATION}
      StrCpy $R0 1
    ${EndIf}
  ${Else}
    System::Call 'kernel32::CloseHandle(p R1)'
  ${EndIf}
FunctionEnd

; Puts SOURCE at $SaverPath (the output folder is its folder), or beside it
; for Windows to put in place when it restarts.
!macro InstallSaver SOURCE
  ; New savers earlier runs left waiting are called off: this run decides.
  Delete "$SaverPath.*.new"
  StrCpy $R4 0
  ${If} ${FileExists} "$SaverPath.removing"
    StrCpy $R4 1
  ${Else}
    SetFileAttributes "$SaverPath" FILE_ATTRIBUTE_NORMAL
    ClearErrors
    SetOverwrite try
    File "/oname=Glidescape.scr" "${SOURCE}"
    SetOverwrite on
    ${If} ${Errors}
      Call SaverInUse
      ${If} $R0 == 0
        !insertmacro Fail "Glidescape.scr could not be written to $SaverPath."
      ${EndIf}
      StrCpy $R4 1
    ${EndIf}
  ${EndIf}
  ${If} $R4 == 1
    System::Call 'kernel32::GetTickCount64() l .R5'
    StrCpy $R5 "$SaverPath.$R5.new"
    ClearErrors
    SetOverwrite try
    File "/oname=$R5" "${SOURCE}"
    SetOverwrite on
    ${IfNot} ${Errors}
      !insertmacro AtRestart "$R5" "$SaverPath"
    ${EndIf}
    ${If} ${Errors}
      !insertmacro Fail "Glidescape.scr is in use, and the new one could not be put beside it in the system folder."
    ${EndIf}
    DetailPrint "Glidescape.scr is in use: the new one replaces it when Windows restarts."
  ${EndIf}
!macroend

Section "Glidescape screen saver" SecSaver
  SectionIn RO
  !insertmacro FindSaverPath
  ${If} ${RunningX64}
    SetRegView 64
    StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
  ${EndIf}

  ; The uninstaller and its entry come first: whatever fails later, what is
  ; installed can be removed.
  ClearErrors
  SetOutPath "$INSTDIR"
  File "/oname=LICENSE.txt" "${LICENSE}"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} screen saver"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$SaverPath,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${If} ${Errors}
    !insertmacro Fail "Glidescape could not be installed into $INSTDIR."
  ${EndIf}

  ${If} ${RunningX64}
    ${DisableX64FSRedirection}
    SetOutPath "$WINDIR\System32"
    !insertmacro InstallSaver "${SAVER64}"
    ${EnableX64FSRedirection}
  ${Else}
    SetOutPath "$SYSDIR"
    !insertmacro InstallSaver "${SAVER32}"
  ${EndIf}

  ; Size in KiB: the saver plus what lies in the install folder.
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  ${If} ${RunningX64}
    ${DisableX64FSRedirection}
  ${EndIf}
  ${GetSize} "$WINDIR\System32" "/M=Glidescape.scr /S=0K /G=0" $3 $1 $2
  ${If} ${RunningX64}
    ${EnableX64FSRedirection}
  ${EndIf}
  IntOp $0 $0 + $3
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Make Glidescape the current screen saver" SecCurrent
  !insertmacro FindSaverPath
  WriteRegStr HKCU "${DESKTOP_KEY}" "SCRNSAVE.EXE" "$SaverPath"
SectionEnd

Section /o "Open the Screen Saver settings when done" SecOpen
  ; desk.cpl's screen-saver page; the shell runs it 64-bit where it can.
  ExecShell "" "control.exe" "desk.cpl,,@screensaver"
SectionEnd

; Last: a replacement waiting for the restart is what a silent caller learns
; from the exit code (the finish page offers the restart itself).
Section "-Restart"
  ${If} ${RebootFlag}
    SetErrorLevel ${EXIT_RESTART_REQUIRED}
  ${EndIf}
SectionEnd

LangString DESC_SecSaver ${LANG_ENGLISH} "Glidescape.scr in the system folder, where the Screen Saver settings find it."
LangString DESC_SecCurrent ${LANG_ENGLISH} "Choose Glidescape as your screen saver now."
LangString DESC_SecOpen ${LANG_ENGLISH} "Open the Screen Saver settings to preview or configure it."
!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecSaver} $(DESC_SecSaver)
  !insertmacro MUI_DESCRIPTION_TEXT ${SecCurrent} $(DESC_SecCurrent)
  !insertmacro MUI_DESCRIPTION_TEXT ${SecOpen} $(DESC_SecOpen)
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Function .onInit
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
  ; A silent install changes the current screen saver only when asked.
  ${If} ${Silent}
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/CURRENT" $1
    ${If} ${Errors}
      !insertmacro UnselectSection ${SecCurrent}
    ${EndIf}
  ${EndIf}
FunctionEnd

Function un.onInit
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
FunctionEnd

Section "Uninstall"
  !insertmacro FindSaverPath
  ${If} ${RunningX64}
    ${DisableX64FSRedirection}
  ${EndIf}
  ; A new saver waiting for the restart goes first: it would bring Glidescape
  ; back. Then the saver itself, or - in use - its deletion at the restart.
  Delete "$SaverPath.*.new"
  Delete "$SaverPath"
  ClearErrors
  ${If} ${FileExists} "$SaverPath.*.new"
    SetErrors
  ${ElseIf} ${FileExists} "$SaverPath"
    !insertmacro AtRestart "$SaverPath" ""
    ${IfNot} ${Errors}
      FileOpen $R0 "$SaverPath.removing" w
      FileClose $R0
    ${EndIf}
    ${IfNot} ${Errors}
      !insertmacro AtRestart "$SaverPath.removing" ""
    ${EndIf}
  ${EndIf}
  ${If} ${RunningX64}
    ${EnableX64FSRedirection}
  ${EndIf}
  ${If} ${Errors}
    !insertmacro Fail "Glidescape.scr could not be removed from $SaverPath."
  ${EndIf}

  ; The current screen saver is cleared only while it is still Glidescape.
  ReadRegStr $0 HKCU "${DESKTOP_KEY}" "SCRNSAVE.EXE"
  ${GetFileName} $0 $1
  ${If} $1 == "Glidescape.scr"
    DeleteRegValue HKCU "${DESKTOP_KEY}" "SCRNSAVE.EXE"
  ${EndIf}

  Delete "$INSTDIR\LICENSE.txt"
  ; The saver stays until the restart, and so does what removes it: the entry
  ; and Uninstall.exe (run again after the restart, it finishes).
  ${IfNot} ${RebootFlag}
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    Delete "$INSTDIR\Uninstall.exe"
    RMDir "$INSTDIR"
  ${EndIf}

  ; The settings are the user's: kept unless asked, or confirmed when not silent.
  ${GetParameters} $0
  StrCpy $2 "keep"
  ClearErrors
  ${GetOptions} $0 "/REMOVESETTINGS" $1
  ${IfNot} ${Errors}
    StrCpy $2 "remove"
  ${ElseIf} ${Cmd} `MessageBox MB_YESNO|MB_DEFBUTTON2 "Also remove your Glidescape settings?" /SD IDNO IDYES`
    StrCpy $2 "remove"
  ${EndIf}
  ${If} $2 == "remove"
    Delete "$APPDATA\Glidescape\Glidescp.ini"
    RMDir "$APPDATA\Glidescape"
  ${EndIf}

  ${If} ${RebootFlag}
    DetailPrint "Glidescape.scr is in use: Windows removes it when it restarts."
    MessageBox MB_OK|MB_ICONINFORMATION "Glidescape.scr is in use by a running screen saver or the preview in the Screen Saver settings. Windows removes it when it restarts; Glidescape stays in the installed apps until you remove it once more after the restart." /SD IDOK
    SetErrorLevel ${EXIT_RESTART_REQUIRED}
  ${EndIf}
SectionEnd
