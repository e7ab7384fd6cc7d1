; The Windows installer: the program, the renderer, the Qt libraries and
; plugins they load and MinGW's runtime, a Start-menu entry and an
; uninstaller that takes away exactly what was installed.
;
;   makensis -DSOURCE_DIR=<folder of the Windows build> -DVERSION=1.20
;            [-DOUTFILE=<installer.exe>] [-DICON=<terralume.ico>] terralume.nsi
;
; makensis works in this file's folder, so give absolute paths. The
; installer is written into SOURCE_DIR unless OUTFILE says otherwise.
; SOURCE_DIR holds the programs with their DLLs beside them and the Qt
; plugins in platforms\ and styles\, as the cross-build deploys them. Only
; the files named below are packed, not the test programs and Qt's test
; library that the same folder holds. Silent: setup.exe /S [/D=folder];
; uninstall.exe /S (add _?=<folder> to wait for it to finish).

; The programs are 64-bit, and so is the installer: it then runs wherever
; they can, and writes to the 64-bit Program Files and registry.
Target amd64-unicode
!ifndef SOURCE_DIR
  !error "give the folder of the Windows build: -DSOURCE_DIR=..."
!endif
!ifndef VERSION
  !error "give the version: -DVERSION=..."
!endif
!ifndef OUTFILE
  !define OUTFILE "${SOURCE_DIR}\terralume-${VERSION}-setup.exe"
!endif

!include "MUI2.nsh"

!define PRODUCT "Terralume"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Terralume"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
SetCompressor /SOLID lzma

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${PRODUCT} ${VERSION} setup"
VIAddVersionKey "CompanyName" "The Terralume maintainers"
VIAddVersionKey "LegalCopyright" "The Terralume maintainers"

!ifdef ICON
  !define MUI_ICON "${ICON}"
  !define MUI_UNICON "${ICON}"
!endif
!define MUI_FINISHPAGE_RUN "$INSTDIR\terralume.exe"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; One list of files serves both directions, so the uninstaller cannot miss
; one the installer wrote. DIR is "" or a plugin folder such as "\platforms".
!macro PutFile DIR NAME
  SetOutPath "$INSTDIR${DIR}"
  File "${SOURCE_DIR}${DIR}\${NAME}"
!macroend
!macro TakeFile DIR NAME
  Delete "$INSTDIR${DIR}\${NAME}"
!macroend
!macro OptionalFile OP DIR NAME
  !if /FileExists "${SOURCE_DIR}${DIR}\${NAME}"
    !insertmacro ${OP} "${DIR}" "${NAME}"
  !endif
!macroend

!macro Payload OP
  !insertmacro ${OP} "" "terralume.exe"
  !insertmacro ${OP} "" "terralume-render.exe"
  !insertmacro ${OP} "" "Qt6Core.dll"
  !insertmacro ${OP} "" "Qt6Gui.dll"
  !insertmacro ${OP} "" "Qt6Widgets.dll"
  !insertmacro ${OP} "" "Qt6PrintSupport.dll"
  ; the single-instance channel
  !insertmacro ${OP} "" "Qt6Network.dll"
  !insertmacro ${OP} "" "libstdc++-6.dll"
  !insertmacro ${OP} "" "libgcc_s_seh-1.dll"
  !insertmacro ${OP} "" "libwinpthread-1.dll"
  ; the windows on the desktop; the renderer draws its pages offscreen
  !insertmacro ${OP} "\platforms" "qwindows.dll"
  !insertmacro ${OP} "\platforms" "qoffscreen.dll"
  ; a build may link these statically instead
  !insertmacro OptionalFile ${OP} "" "libjpeg-62.dll"
  !insertmacro OptionalFile ${OP} "" "libturbojpeg.dll"
  !insertmacro OptionalFile ${OP} "\styles" "qwindowsvistastyle.dll"
!macroend

Section "Terralume"
  SetShellVarContext all
  SetRegView 64
  !insertmacro Payload PutFile
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\terralume.exe" "" "$INSTDIR\terralume.exe" 0

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "The Terralume maintainers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\terralume.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  SetRegView 64
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  !insertmacro Payload TakeFile
  Delete "$INSTDIR\uninstall.exe"
  ; Not recursive: a file the user put there, or a folder chosen by
  ; mistake, stays.
  RMDir "$INSTDIR\platforms"
  RMDir "$INSTDIR\styles"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
