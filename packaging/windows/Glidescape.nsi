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

Section "Glidescape screen saver" SecSaver
  SectionIn RO
  !insertmacro FindSaverPath
  ${If} ${RunningX64}
    ${DisableX64FSRedirection}
    SetOutPath "$WINDIR\System32"
    File "/oname=Glidescape.scr" "${SAVER64}"
    ${EnableX64FSRedirection}
    SetRegView 64
    StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
  ${Else}
    SetOutPath "$SYSDIR"
    File "/oname=Glidescape.scr" "${SAVER32}"
  ${EndIf}

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
  Delete "$SaverPath"
  ${If} ${RunningX64}
    ${EnableX64FSRedirection}
  ${EndIf}

  ; The current screen saver is cleared only while it is still Glidescape.
  ReadRegStr $0 HKCU "${DESKTOP_KEY}" "SCRNSAVE.EXE"
  ${GetFileName} $0 $1
  ${If} $1 == "Glidescape.scr"
    DeleteRegValue HKCU "${DESKTOP_KEY}" "SCRNSAVE.EXE"
  ${EndIf}

  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"

  ; The settings are the user's: kept unless asked, or confirmed when not silent.
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/REMOVESETTINGS" $1
  ${IfNot} ${Errors}
    StrCpy $2 "remove"
  ${ElseIfNot} ${Silent}
    MessageBox MB_YESNO|MB_DEFBUTTON2 "Also remove your Glidescape settings?" /SD IDNO IDNO keep
    StrCpy $2 "remove"
  ${EndIf}
  ${If} $2 == "remove"
    Delete "$APPDATA\Glidescape\Glidescp.ini"
    RMDir "$APPDATA\Glidescape"
  ${EndIf}
  keep:
SectionEnd
