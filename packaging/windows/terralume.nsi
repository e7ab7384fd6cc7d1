; The Windows installer: the program, the renderer, the Qt libraries and
; plugins they load, MinGW's runtime and the licences of all of them, a
; Start-menu folder and an uninstaller that takes away exactly what was
; installed, with the program's own settings.
;
;   makensis -DSOURCE_DIR=<folder of the Windows build> -DVERSION=1.20
;            [-DOUTFILE=<installer.exe>] -DASSETS=<assets folder> terralume.nsi
;
; makensis works in this file's folder, so give absolute paths. The
; installer is written into SOURCE_DIR unless OUTFILE says otherwise.
; SOURCE_DIR holds the programs with their DLLs beside them, the Qt plugins
; in platforms\ and styles\ and the licences in licenses\, as the
; cross-build deploys them. Only the files named below are packed, not the
; test programs and Qt's test library that the same folder holds. Silent:
; setup.exe /S [/D=folder]; uninstall.exe /S (add _?=<folder> to wait for
; it to finish). Neither runs while Terralume does: they ask for it to be
; closed (Retry/Cancel), and a silent run ends with exit code 2 instead.

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
!ifndef ASSETS
  !error "give the assets folder: -DASSETS=..."
!endif

!include "MUI2.nsh"
!include "FileFunc.nsh"

!define PRODUCT "Terralume"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Terralume"
; Where the program keeps the folder it last saved to, for the user.
!define SETTINGS_KEY "Software\Terralume"
!define PUBLISHER "The Terralume maintainers"

Name "${PRODUCT} ${VERSION}"
BrandingText "${PRODUCT} ${VERSION}"
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
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "LegalCopyright" "Copyright 2026 ${PUBLISHER}, MIT licence"

Var StartMenuFolder

!define MUI_ICON "${ASSETS}\terralume.ico"
!define MUI_UNICON "${ASSETS}\terralume.ico"
!define MUI_WELCOMEFINISHPAGE_BITMAP "${ASSETS}\installer\installer-welcome.bmp"
!define MUI_UNWELCOMEFINISHPAGE_BITMAP "${ASSETS}\installer\installer-welcome.bmp"
!define MUI_HEADERIMAGE
!define MUI_HEADERIMAGE_RIGHT
!define MUI_HEADERIMAGE_BITMAP "${ASSETS}\installer\installer-header.bmp"
!define MUI_HEADERIMAGE_UNBITMAP "${ASSETS}\installer\installer-header.bmp"
!define MUI_ABORTWARNING
!define MUI_STARTMENUPAGE_DEFAULTFOLDER "${PRODUCT}"
!define MUI_STARTMENUPAGE_REGISTRY_ROOT HKLM
!define MUI_STARTMENUPAGE_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MUI_STARTMENUPAGE_REGISTRY_VALUENAME "StartMenuFolder"
!define MUI_FINISHPAGE_RUN "$INSTDIR\terralume.exe"

; The pages of Modern UI end the window's title with a blank of their own;
; each page puts back the plain title as it shows.
!macro Page KIND
  !define MUI_PAGE_CUSTOMFUNCTION_SHOW PlainTitle
  !insertmacro MUI_PAGE_${KIND}
!macroend
!macro UnPage KIND
  !define MUI_PAGE_CUSTOMFUNCTION_SHOW un.PlainTitle
  !insertmacro MUI_UNPAGE_${KIND}
!macroend
!insertmacro Page WELCOME
!define MUI_PAGE_CUSTOMFUNCTION_SHOW PlainTitle
!insertmacro MUI_PAGE_LICENSE "${SOURCE_DIR}\licenses\LICENSE.txt"
!insertmacro Page DIRECTORY
!define MUI_PAGE_CUSTOMFUNCTION_SHOW PlainTitle
!insertmacro MUI_PAGE_STARTMENU Application $StartMenuFolder
!insertmacro Page INSTFILES
!insertmacro Page FINISH
!insertmacro UnPage CONFIRM
!insertmacro UnPage INSTFILES
!insertmacro MUI_LANGUAGE "English"

!macro PlainTitleFunction PREFIX CAPTION
  Function ${PREFIX}PlainTitle
    SendMessage $HWNDPARENT ${WM_SETTEXT} 0 "STR:${CAPTION}"
  FunctionEnd
!macroend
!insertmacro PlainTitleFunction "" "${PRODUCT} ${VERSION} Setup"
!insertmacro PlainTitleFunction "un." "${PRODUCT} ${VERSION} Uninstall"

; Every running Terralume holds a mutex of this name. Files in use cannot be
; replaced or removed, and skipping them would leave a mix of versions or
; files with no uninstaller, so nothing starts until it is closed.
!macro WaitForProgramClosed PREFIX
  Function ${PREFIX}WaitForProgramClosed
    check:
      System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "${PRODUCT}") p .r0'
      IntPtrCmp $0 0 closed
      System::Call 'kernel32::CloseHandle(p r0)'
      MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
        "${PRODUCT} is running. Close it, then choose Retry to go on, or Cancel to stop." \
        /SD IDCANCEL IDRETRY check
      SetErrorLevel 2
      Quit
    closed:
  FunctionEnd
!macroend
!insertmacro WaitForProgramClosed ""
!insertmacro WaitForProgramClosed "un."

Function .onInit
  Call WaitForProgramClosed
FunctionEnd

Function un.onInit
  Call un.WaitForProgramClosed
FunctionEnd

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
  !insertmacro ${OP} "\licenses" "LICENSE.txt"
  !insertmacro ${OP} "\licenses" "Qt.txt"
  !insertmacro ${OP} "\licenses" "LGPL-3.txt"
  !insertmacro ${OP} "\licenses" "GPL-3.txt"
  !insertmacro ${OP} "\licenses" "libjpeg-turbo.txt"
  !insertmacro ${OP} "\licenses" "zlib.txt"
  !insertmacro ${OP} "\licenses" "MinGW-runtime.txt"
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
  ; Versions before the Start-menu folder put the entry at the top.
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  !insertmacro MUI_STARTMENU_WRITE_BEGIN Application
    CreateDirectory "$SMPROGRAMS\$StartMenuFolder"
    CreateShortcut "$SMPROGRAMS\$StartMenuFolder\${PRODUCT}.lnk" "$INSTDIR\terralume.exe" "" "$INSTDIR\terralume.exe" 0
  !insertmacro MUI_STARTMENU_WRITE_END

  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\terralume.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  SetRegView 64
  !insertmacro MUI_STARTMENU_GETFOLDER Application $StartMenuFolder
  Delete "$SMPROGRAMS\$StartMenuFolder\${PRODUCT}.lnk"
  RMDir "$SMPROGRAMS\$StartMenuFolder"
  !insertmacro Payload TakeFile
  Delete "$INSTDIR\uninstall.exe"
  ; Not recursive: a file the user put there, or a folder chosen by
  ; mistake, stays.
  RMDir "$INSTDIR\platforms"
  RMDir "$INSTDIR\styles"
  RMDir "$INSTDIR\licenses"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ; The program's settings are the user's who runs the uninstaller.
  DeleteRegKey HKCU "${SETTINGS_KEY}"
SectionEnd
