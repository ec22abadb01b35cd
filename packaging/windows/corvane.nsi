; Corvane's installer for Windows, for one user: it needs no administrator rights, installs the folder that
; scripts/windows lays out into %LOCALAPPDATA%\Programs\Corvane, puts Corvane on the user's Start menu and
; in the user's list of installed apps, and leaves an uninstaller. /S installs (and uninstalls) silently.
;
;   makensis -DDIST=<dist folder> -DOUTFILE=<setup.exe> -DVERSION=<a.b.c.d> -DICON=<corvane.ico> corvane.nsi
; A 64-bit installer for a 64-bit program (and Wine without its 32-bit part runs it).
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Corvane"

Name "Corvane"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Corvane"
Icon "${ICON}"
UninstallIcon "${ICON}"

VIProductVersion "${VERSION}"
VIAddVersionKey "ProductName" "Corvane"
VIAddVersionKey "FileDescription" "Corvane installer"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "CompanyName" "Corvane"
VIAddVersionKey "LegalCopyright" "Corvane"

!include "MUI2.nsh"
!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_FINISHPAGE_RUN "$INSTDIR\corvane.exe"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Section "Corvane"
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  File /r "${DIST}\*"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\Corvane.lnk" "$INSTDIR\corvane.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Corvane"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Corvane"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\corvane.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Removes what the installer put there, by name: a folder the user chose may hold other files, which stay.
; The settings (HKCU\SOFTWARE\Corvane) stay too.
Section "Uninstall"
  SetShellVarContext current
  Delete "$SMPROGRAMS\Corvane.lnk"
  RMDir /r "$INSTDIR\platforms"
  RMDir /r "$INSTDIR\styles"
  RMDir /r "$INSTDIR\imageformats"
  Delete "$INSTDIR\corvane.exe"
  Delete "$INSTDIR\*.dll"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
