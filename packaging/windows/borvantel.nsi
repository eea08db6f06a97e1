; The Windows installer: for one user and without administrator rights, into
; %LOCALAPPDATA%\Programs\Borvantel, with a Start-menu shortcut and an entry
; in "Apps and features". Built by scripts/package-windows.sh:
;
;   makensis -INPUTCHARSET UTF8 -DVERSION=0.1 -DVERSION4=0.1.0.0 -DSTAGE=DIR
;            -DICON=borvantel.ico -DOUTFILE=setup.exe borvantel.nsi
;
; STAGE holds the installed layout: bin\ (the programs, their DLLs and Qt's
; plugins), share\borvantel\ (the default kategorie.txt and predef.txt, which
; the programs copy into %APPDATA%\borvantel on their first run), przyklad\,
; licencje\ and CZYTAJ.txt. An upgrade replaces what the installer put there;
; neither it nor the uninstaller touches %APPDATA%\borvantel.
Unicode true
; 64-bit stubs: what this Windows build is, and all the Wine of the tests runs.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true

!include "MUI2.nsh"
!include "FileFunc.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Borvantel"

Name "Borvantel"
Caption "Borvantel ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Borvantel"
; An upgrade goes where the last installation went.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "Borvantel ${VERSION}"

VIProductVersion "${VERSION4}"
VIFileVersion "${VERSION4}"
VIAddVersionKey /LANG=1045 "ProductName" "Borvantel"
VIAddVersionKey /LANG=1045 "CompanyName" "Borvantel"
VIAddVersionKey /LANG=1045 "FileDescription" "Instalator programu Borvantel"
VIAddVersionKey /LANG=1045 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1045 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1045 "LegalCopyright" "© 2026 Borvantel maintainers"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_FINISHPAGE_RUN "$INSTDIR\bin\borvantel.exe"
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\CZYTAJ.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Polish"

Section "Borvantel"
  SetShellVarContext current
  ; What an earlier version installed goes first, so that nothing of it stays.
  RMDir /r "$INSTDIR\bin"
  RMDir /r "$INSTDIR\share"
  RMDir /r "$INSTDIR\licencje"
  SetOutPath "$INSTDIR"
  File /r "${STAGE}\*.*"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The window opens on the user's documents: its directory list starts there.
  SetOutPath "$DOCUMENTS"
  CreateShortcut "$SMPROGRAMS\Borvantel.lnk" "$INSTDIR\bin\borvantel.exe" "" "$INSTDIR\bin\borvantel.exe" 0 \
    SW_SHOWNORMAL "" "Borvantel – kategorie plików *.inc scenerii"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Borvantel"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Borvantel maintainers"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\bin\borvantel.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

; Removes what the installer put there, and nothing else: the user's
; %APPDATA%\borvantel (kategorie.txt, predef.txt) stays as it is.
Section "Uninstall"
  SetShellVarContext current
  Delete "$SMPROGRAMS\Borvantel.lnk"
  RMDir /r "$INSTDIR\bin"
  RMDir /r "$INSTDIR\share"
  RMDir /r "$INSTDIR\licencje"
  RMDir /r "$INSTDIR\przyklad"
  Delete "$INSTDIR\CZYTAJ.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
