; Brisquet's Windows installer: installs for every user of the machine under
; Program Files\Quernwick\Brisquet, adds the Start menu shortcut "Brisquet"
; and the entry in Add/Remove Programs; /S installs and uninstalls silently.
; The uninstaller removes exactly the files the installer put there, so a
; skin (x\o.cjs) or a hand pointer (HAND-M.CUR) the user added keeps the
; folder, and never touches the user's tempo in the registry.
;
; makensis -DVERSION=7.00 -DFILES=<files.nsh> -DICON=<brisquet.ico>
;          -DSIZE_KB=<installed size> -DOUTFILE=<setup.exe> brisquet.nsi
; files.nsh defines the macros InstallFiles and RemoveFiles from the portable
; folder's contents (package.sh writes it).

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!include "MUI2.nsh"
!include "x64.nsh"
!include "${FILES}"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Brisquet"

Name "Brisquet"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Quernwick\Brisquet"
BrandingText "Quernwick"
VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=1033 "ProductName" "Brisquet"
VIAddVersionKey /LANG=1033 "CompanyName" "Quernwick"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Quernwick"
VIAddVersionKey /LANG=1033 "FileDescription" "Brisquet ${VERSION} Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_FINISHPAGE_RUN "$INSTDIR\brisquet.exe"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Function .onInit
    SetRegView 64
    SetShellVarContext all
FunctionEnd

Function un.onInit
    SetRegView 64
    SetShellVarContext all
FunctionEnd

Section "Brisquet"
    SetOutPath "$INSTDIR"
    !insertmacro InstallFiles
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateShortcut "$SMPROGRAMS\Brisquet.lnk" "$INSTDIR\brisquet.exe"

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Brisquet"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Quernwick"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\brisquet.exe,0"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" ${SIZE_KB}
SectionEnd

Section "Uninstall"
    Delete "$SMPROGRAMS\Brisquet.lnk"
    !insertmacro RemoveFiles
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR" ; only when empty: the user's own files stay
    RMDir "$INSTDIR\.."
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
