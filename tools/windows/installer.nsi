; The Windows installer of Quorvel2, for makensis (NSIS 3, Debian package nsis):
;   makensis -DSTAGE=<folder> -DFILES=<files.nsh> -DICON=<quorvel.ico> -DVERSION=<1.00>
;            -DSERVICE_STAGE=<folder> -DOUTFILE=<setup.exe>
; SERVICE_STAGE holds quorvel-refclock.exe and QuorvelTimeProvider.dll, for the optional
; component that keeps the PC's clock with the device (windows-time.nsh); the DLLs that
; quorvel-refclock.exe imports are among the program's own.
; VERSION is the version of the Windows version record (tools/windows/version.sh).
; STAGE holds what is installed (the program, the Qt and MinGW runtime DLLs, the Qt plugins);
; FILES, written by installer.sh, defines the macros that install and remove those very files,
; one by one, so that the uninstaller removes nothing it did not install.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"
!include "Sections.nsh"
!include "${FILES}"

!define PRODUCT "Quorvel2"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Spanish"

; The installer's own version record. Like the program's, it names no copyright holder.
!pragma warning disable 9100 ; no LegalCopyright key
VIProductVersion "1.0.0.0"
VIFileVersion "1.0.0.0"
VIAddVersionKey /LANG=${LANG_SPANISH} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_SPANISH} "FileDescription" "Instalador de ${PRODUCT}"
VIAddVersionKey /LANG=${LANG_SPANISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SPANISH} "ProductVersion" "${VERSION}"

Function .onInit
    SetRegView 64
    SetShellVarContext all
    Call QuorvelTimeOptions
FunctionEnd

Function un.onInit
    SetRegView 64
    SetShellVarContext all
FunctionEnd

Section "Quorvel2"
    SectionIn RO
    !insertmacro QUORVEL_INSTALL_FILES
    WriteUninstaller "$INSTDIR\Desinstalar.exe"
    CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\Quorvel2.exe" "" \
        "$INSTDIR\Quorvel2.exe" 0

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Quorvel2.exe,0"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Desinstalar.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Desinstalar.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

!include "${__FILEDIR__}/windows-time.nsh"

Section "Uninstall"
    ; First what the optional components changed, which needs the uninstall key's values.
    !insertmacro QUORVEL_TIME_UNINSTALL
    Delete "$SMPROGRAMS\${PRODUCT}.lnk"
    !insertmacro QUORVEL_REMOVE_FILES
    Delete "$INSTDIR\Desinstalar.exe"
    ; Only empty folders go: anything the user put there stays.
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
