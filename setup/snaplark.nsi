; SnaplarkSetup.exe: installs the tray program and its TWAIN data source.
; The build passes the folder of the built files, the icon, the version and
; the output file:
;   makensis -DPRODUCT_DIR=... -DICON=... -DVERSION=1.0.0.0 -DOUTFILE=... snaplark.nsi
;
; Switches: /S installs silently (the program is started at the end when it
; is to start at sign-in, the default). The uninstaller takes /S too, and /REMOVESETTINGS to
; delete the user's settings as well.

Unicode true
ManifestDPIAware true
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!include LogicLib.nsh
!include FileFunc.nsh
!include Sections.nsh
!include MUI2.nsh
!include WinMessages.nsh

!ifndef PRODUCT_DIR | ICON | VERSION | OUTFILE
  !error "PRODUCT_DIR, ICON, VERSION and OUTFILE must be defined"
!endif

!define PRODUCT "Snaplark"
!define PUBLISHER "Tollendale"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Snaplark"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define SETTINGS_KEY "Software\Tollendale\Glimmerdock"
!define DATA_SOURCE "Glimmerdock.ds"
; What the running program answers to: its message-only tray window and the
; mutex it holds for as long as it runs.
!define TRAY_CLASS "GlimmerdockTray"
!define TRAY_EXIT_COMMAND 2003
!define INSTANCE_MUTEX "Glimmerdock_SingleInstance"
!define SYNCHRONIZE 0x00100000
; How long the program gets to end after it was asked to (milliseconds).
!define EXIT_TIME_LIMIT 10000

Var FilesSkipped

Name "${PRODUCT}"
OutFile "${OUTFILE}"
; The product is 32-bit: a 32-bit installer's $PROGRAMFILES is the 32-bit
; Program Files on a 64-bit Windows, and its registry view the 32-bit one.
InstallDir "$PROGRAMFILES\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (C) ${PUBLISHER}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Start ${PRODUCT} now"
!define MUI_FINISHPAGE_RUN_FUNCTION StartUnelevated
!insertmacro MUI_PAGE_FINISH

!define MUI_COMPONENTSPAGE_TEXT_TOP "${PRODUCT} will be removed from your computer. Your camera and capture key settings are kept unless you tick the box below."
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

; Asks a running Snaplark to end through its own Exit command and waits until
; it has, so that its files can be replaced or removed. It is never killed: if
; it does not end in time the user may retry, and otherwise setup stops.
!macro DEFINE_CLOSE_RUNNING prefix
Function ${prefix}CloseRunningSnaplark
  System::Call 'kernel32::GetTickCount() i .R9'
  ${Do}
    ; The tray window is message-only, so it is found under HWND_MESSAGE.
    FindWindow $R0 "${TRAY_CLASS}" "" -3
    ${If} $R0 <> 0
      DetailPrint "Closing the running ${PRODUCT}..."
      System::Call 'user32::GetWindowThreadProcessId(p R0, *i .R1)'
      System::Call 'kernel32::OpenProcess(i ${SYNCHRONIZE}, i 0, i R1) p .R2'
      System::Call 'user32::PostMessageW(p R0, i ${WM_COMMAND}, p ${TRAY_EXIT_COMMAND}, p 0)'
      ${If} $R2 <> 0
        System::Call 'kernel32::GetTickCount() i .R3'
        IntOp $R3 $R3 - $R9
        IntOp $R3 ${EXIT_TIME_LIMIT} - $R3
        ${If} $R3 < 0
          StrCpy $R3 0
        ${EndIf}
        System::Call 'kernel32::WaitForSingleObject(p R2, i R3)'
        System::Call 'kernel32::CloseHandle(p R2)'
      ${EndIf}
    ${EndIf}
    ; The instance is gone once its mutex is: this also covers a program that
    ; is still starting and has no tray window yet.
    System::Call 'kernel32::OpenMutexW(i ${SYNCHRONIZE}, i 0, w "${INSTANCE_MUTEX}") p .R2'
    ${If} $R2 = 0
      ${Break}
    ${EndIf}
    System::Call 'kernel32::CloseHandle(p R2)'
    System::Call 'kernel32::GetTickCount() i .R3'
    IntOp $R3 $R3 - $R9
    ${If} $R3 >= ${EXIT_TIME_LIMIT}
      MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
        "${PRODUCT} is still running and did not close.$\r$\n$\r$\nClose it from its tray icon (Exit), then click Retry." \
        /SD IDCANCEL IDRETRY retry
      DetailPrint "${PRODUCT} is still running; nothing was changed."
      Abort
      retry:
      System::Call 'kernel32::GetTickCount() i .R9'
    ${EndIf}
    Sleep 100
  ${Loop}
FunctionEnd
!macroend
!insertmacro DEFINE_CLOSE_RUNNING ""
!insertmacro DEFINE_CLOSE_RUNNING "un."

; The installer runs elevated, and so would a program it started itself. The
; shell's explorer starts it in the signed-in user's own, unelevated session.
Function StartUnelevated
  Exec '"$WINDIR\explorer.exe" "$INSTDIR\Snaplark.exe"'
FunctionEnd

Function .onInit
  SetShellVarContext all
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "Admin"
    MessageBox MB_OK|MB_ICONSTOP "Installing ${PRODUCT} requires administrator rights." /SD IDOK
    SetErrorLevel 740 ; ERROR_ELEVATION_REQUIRED
    Quit
  ${EndIf}
FunctionEnd

Section "${PRODUCT}" SecProgram
  SectionIn RO
  Call CloseRunningSnaplark

  ; A file that cannot be written (a scanning application may hold the data
  ; source) is skipped when the user says Ignore, and always in silent mode:
  ; setup then ends with exit code 1 instead of 0.
  ClearErrors
  SetOutPath "$INSTDIR"
  File "${PRODUCT_DIR}/Snaplark.exe"
  File "${PRODUCT_DIR}/${DATA_SOURCE}"
  ; Scanning applications look for data sources in the Windows directory's
  ; twain_32 folder, the same place the program's own installer copies to.
  SetOutPath "$WINDIR\twain_32"
  File "${PRODUCT_DIR}/${DATA_SOURCE}"
  SetOutPath "$INSTDIR"
  ${If} ${Errors}
    StrCpy $FilesSkipped 1
    DetailPrint "Some files were in use and were not replaced; close the programs using them and run setup again."
  ${EndIf}

  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\Snaplark.exe" "" "$INSTDIR\Snaplark.exe" 0

  WriteUninstaller "$INSTDIR\Uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Snaplark.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ; Kilobytes, the installation folder plus the data source's second copy.
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  ${GetSize} "$WINDIR\twain_32" "/M=${DATA_SOURCE} /S=0K /G=0" $1 $2 $3
  IntOp $0 $0 + $1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0

  ; Taken out here and written again by the next section if it is chosen, so
  ; that a reinstall without it does not leave the old value behind.
  DeleteRegValue HKLM "${RUN_KEY}" "${PRODUCT}"
SectionEnd

; Machine-wide: an elevated installer started by a standard user runs as the
; administrator whose password was given, and HKCU would be that account's.
Section "Start ${PRODUCT} when I sign in" SecSignIn
  WriteRegStr HKLM "${RUN_KEY}" "${PRODUCT}" '"$INSTDIR\Snaplark.exe"'
SectionEnd

Function .onInstSuccess
  ${If} $FilesSkipped = 1
    SetErrorLevel 1
  ${EndIf}
  ; Silent mode has no finish page: the program starts when it is to start
  ; at sign-in (the default), as a ticked box would have it.
  ${If} ${Silent}
  ${AndIf} ${SectionIsSelected} ${SecSignIn}
    Call StartUnelevated
  ${EndIf}
FunctionEnd

Section "un.${PRODUCT}" SecUninstallProgram
  SectionIn RO
  Call un.CloseRunningSnaplark

  Delete "$INSTDIR\Snaplark.exe"
  Delete "$INSTDIR\${DATA_SOURCE}"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  ; The folder itself belongs to Windows and other scanners' sources.
  Delete "$WINDIR\twain_32\${DATA_SOURCE}"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  DeleteRegValue HKLM "${RUN_KEY}" "${PRODUCT}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd

Section /o "un.Remove my ${PRODUCT} settings" SecRemoveSettings
  DeleteRegKey HKCU "${SETTINGS_KEY}"
  DeleteRegKey /ifempty HKCU "Software\${PUBLISHER}"
SectionEnd

; After the sections: it selects one by its index.
Function un.onInit
  SetShellVarContext all
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/REMOVESETTINGS" $1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecRemoveSettings}
  ${EndIf}
FunctionEnd
