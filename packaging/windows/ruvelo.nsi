; The Ruvelo installer for Windows.
;
; makensis -DAPP_DIR=<windeployqt'd program> -DBRIDGE_DIR=<gm7bridge.exe's folder>
;          -DSOURCE_DIR=<repository> [-DOUT_FILE=ruvelo-setup.exe] [-DVERSION=x.y]
;          ruvelo.nsi
;
; With -DBRIDGE_ONLY the window program is left out: the installer then holds
; the bridge and the documentation, which is what can be built without a
; Windows build of Qt.
;
; GoldMine's own gm7s32.dll is not shipped: gm7bridge.exe loads the one the
; GoldMine installation provides, by name, as the system's library search
; finds it.

Unicode true
SetCompressor /SOLID lzma

!ifndef VERSION
  !define VERSION "0.1"
!endif
!ifndef OUT_FILE
  !define OUT_FILE "ruvelo-setup.exe"
!endif
!ifndef BRIDGE_DIR
  !error "BRIDGE_DIR must name the folder that holds gm7bridge.exe"
!endif
!ifndef SOURCE_DIR
  !error "SOURCE_DIR must name the repository"
!endif
!ifndef BRIDGE_ONLY
  !ifndef APP_DIR
    !error "APP_DIR must name the folder windeployqt filled (or define BRIDGE_ONLY)"
  !endif
!endif

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Ruvelo"

Name "Ruvelo ${VERSION}"
OutFile "${OUT_FILE}"
InstallDir "$PROGRAMFILES64\Ruvelo"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin

!include "MUI2.nsh"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Section "Ruvelo" SecMain
  SectionIn RO
  SetOutPath "$INSTDIR"
!ifndef BRIDGE_ONLY
  ; ruvelo.exe, ruvelo-import.exe and the Qt libraries and plug-ins beside them.
  File /r "${APP_DIR}/*.*"
!endif
  ; The 32-bit helper that loads GoldMine's 32-bit API library for the 64-bit program.
  File "${BRIDGE_DIR}/gm7bridge.exe"
  SetOutPath "$INSTDIR\doc"
  File "/oname=README.md" "${SOURCE_DIR}/README.md"
  File "/oname=conventions.md" "${SOURCE_DIR}/docs/conventions.md"

  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Ruvelo"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
!ifndef BRIDGE_ONLY
  CreateShortcut "$SMPROGRAMS\Ruvelo.lnk" "$INSTDIR\ruvelo.exe"
!endif
SectionEnd

Section "Uninstall"
  Delete "$SMPROGRAMS\Ruvelo.lnk"
  RMDir /r "$INSTDIR\doc"
  Delete "$INSTDIR\gm7bridge.exe"
  Delete "$INSTDIR\uninstall.exe"
!ifndef BRIDGE_ONLY
  ; Everything windeployqt put there goes with the program.
  RMDir /r "$INSTDIR"
!endif
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
