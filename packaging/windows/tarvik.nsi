; SPDX-License-Identifier: MIT
; Installer for Tarvik on Windows. makensis is run by scripts/windows.sh with
;   -DVERSION=x.y.z -DSTAGE=<folder with tarvik.exe and its DLLs> -DOUTFILE=<setup.exe>
;   -DUNINSTALL_LIST=<file of Delete and RMDir lines for exactly the staged files>
;
; The program goes to Program Files, which operators cannot write. Their
; shared files (Settings.ini, Default.csv) live in %ProgramData%\Tarvik,
; which the installer makes writable for the local Users group. The
; uninstaller removes the program and leaves that folder as it is.

; A 64-bit installer for a 64-bit program: it also runs where Windows
; programs run without 32-bit support (Wine without wine32).
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "x64.nsh"

Name "Tarvik Data Logger"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Tarvik"
BrandingText "Tarvik Data Logger ${VERSION}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "Tarvik Data Logger"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "Tarvik Data Logger installer"
VIAddVersionKey "LegalCopyright" "MIT licence; see THIRD-PARTY-NOTICES.txt for the libraries it carries"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarvik"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
    SetShellVarContext all
    ${If} ${RunningX64}
        SetRegView 64
    ${EndIf}
FunctionEnd

Function un.onInit
    SetShellVarContext all
    SetRegView 64
FunctionEnd

Section "Tarvik Data Logger"
    SetOutPath "$INSTDIR"
    File /r "${STAGE}\*.*"

    ; The operators' folder: created once, kept across upgrades and removal.
    CreateDirectory "$APPDATA\Tarvik"
    ; S-1-5-32-545 is the local Users group under any display language.
    nsExec::ExecToLog 'icacls "$APPDATA\Tarvik" /grant *S-1-5-32-545:(OI)(CI)M'
    Pop $0
    DetailPrint "Made $APPDATA\Tarvik writable for Users (icacls: $0)"

    CreateShortCut "$SMPROGRAMS\Tarvik Data Logger.lnk" "$INSTDIR\tarvik.exe" "" "$INSTDIR\tarvik.exe" 0

    WriteUninstaller "$INSTDIR\uninstall.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Tarvik Data Logger"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Tarvik"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
    Delete "$SMPROGRAMS\Tarvik Data Logger.lnk"
    ; Only what the installer put there, so that a folder chosen by hand
    ; loses nothing else.
    !include "${UNINSTALL_LIST}"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    ; $APPDATA\Tarvik (Settings.ini, the logs) stays: it is the operators'.
SectionEnd
