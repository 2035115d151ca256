; The Windows installer: varnel.exe and varnel-cli.exe under Program Files,
; a Start-menu entry, the .oem file type opening varnel.exe, and an
; uninstaller registered with Windows. /S installs silently.
;   makensis -DVERSION=0.1.0 -DSTAGE=DIR -DOUTFILE=varnel-0.1.0-setup.exe varnel.nsi
; The shipped installer is NSIS's ANSI one (x86-ansi): its Unicode stub needs
; Windows NT. The 64-bit test installer (-DVARNEL_TEST_64, for wine64 only) is
; amd64-unicode. The keys it writes are where 95, 98, ME and the NT family all
; look: the uninstaller's under HKLM, the file type under HKCR, the Path
; value under HKCU.
!ifdef VARNEL_TEST_64
Unicode true
!else
Unicode false
!endif
SetCompressor /SOLID lzma

!include "MUI2.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Varnel"

Name "Varnel ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\Varnel"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "Varnel"
VIAddVersionKey "FileDescription" "Varnel ${VERSION} setup"
VIAddVersionKey "FileVersion" "${VERSION}.0"
VIAddVersionKey "ProductVersion" "${VERSION}.0"
VIAddVersionKey "LegalCopyright" "The Varnel authors"

!define MUI_ICON "${STAGE}\varnel.ico"
!define MUI_UNICON "${STAGE}\varnel.ico"
; The processor floor is that of Debian's MinGW C++ runtime (i686: CMOV).
!define MUI_DIRECTORYPAGE_TEXT_TOP "Varnel runs on Windows 95 (with its updates), 98, ME, NT 4.0 SP6, 2000, XP and later, on a Pentium Pro, Pentium II or later processor. Setup will install it in the following folder."
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Section "Varnel"
    SetOutPath "$INSTDIR"
    File "${STAGE}\varnel.exe"
    File "${STAGE}\varnel-cli.exe"
    File "${STAGE}\README.txt"
    ; Where "Download..." looks for a release first: <Path>\Firmware.
    CreateDirectory "$INSTDIR\Firmware"
    WriteRegStr HKCU "Software\Varnel" "Path" "$INSTDIR"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    CreateShortcut "$SMPROGRAMS\Varnel.lnk" "$INSTDIR\varnel.exe" "" "$INSTDIR\varnel.exe" 0

    ; The .oem link file opens in varnel.exe, which lists its files.
    WriteRegStr HKCR ".oem" "" "Varnel.LinkFile"
    WriteRegStr HKCR "Varnel.LinkFile" "" "Varnel link file"
    WriteRegStr HKCR "Varnel.LinkFile\DefaultIcon" "" "$INSTDIR\varnel.exe,0"
    WriteRegStr HKCR "Varnel.LinkFile\shell\open\command" "" '"$INSTDIR\varnel.exe" "%1"'

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Varnel"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Varnel"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\varnel.exe,0"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Removes what the installer put there, nothing else: a Firmware folder
; that holds the user's files stays, and so does %LOCALAPPDATA%\Varnel
; (the history, the backups of the cards).
Section "Uninstall"
    Delete "$INSTDIR\varnel.exe"
    Delete "$INSTDIR\varnel-cli.exe"
    Delete "$INSTDIR\README.txt"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR\Firmware"
    RMDir "$INSTDIR"
    Delete "$SMPROGRAMS\Varnel.lnk"
    ReadRegStr $0 HKCR ".oem" ""
    StrCmp $0 "Varnel.LinkFile" 0 +2
        DeleteRegKey HKCR ".oem"
    DeleteRegKey HKCR "Varnel.LinkFile"
    DeleteRegValue HKCU "Software\Varnel" "Path"
    DeleteRegKey /ifempty HKCU "Software\Varnel"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
