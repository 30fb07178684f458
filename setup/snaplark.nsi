; SnaplarkSetup.exe: installs the tray program and its TWAIN data source.
; The build passes the folder of the built files and the program's file name
; in it, the icon, the generated file of the product's names and version, and
; the output file:
;   makensis -DPRODUCT_DIR=... -DPROGRAM=Snaplark.exe -DICON=... -DIDENTITY=.../product_identity.nsh
;            -DOUTFILE=... -DHELPER=... snaplark.nsi
; HELPER is SnaplarkSetupHelper.exe, which finds the user signed in to the desk
; and starts the program as that user.
;
; Switches: /S installs silently (the program is started at the end when it
; is to start at sign-in, the default). The uninstaller takes /S too, and /REMOVESETTINGS to
; delete the user's settings as well; run in place (_?=<folder>, last) it
; returns when the work is done, with the work's exit code.

Unicode true
ManifestDPIAware true
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!include LogicLib.nsh
!include FileFunc.nsh
!include Sections.nsh
!include MUI2.nsh
!include WinMessages.nsh

!ifndef PRODUCT_DIR | PROGRAM | ICON | IDENTITY | OUTFILE | HELPER
  !error "PRODUCT_DIR, PROGRAM, ICON, IDENTITY, OUTFILE and HELPER must be defined"
!endif

; PRODUCT, PUBLISHER, VERSION, SETTINGS_KEY, DATA_SOURCE, TRAY_CLASS, INSTANCE_MUTEX
!include "${IDENTITY}"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
; The command of the tray window's menu that ends the program.
!define TRAY_EXIT_COMMAND 2003
!define SYNCHRONIZE 0x00100000
!define ERROR_ACCESS_DENIED 5
!define WAIT_ABANDONED 0x80
; A silent uninstall whose data source was in use ends with this code: done,
; but the file goes only at the next restart.
!define ERROR_SUCCESS_REBOOT_REQUIRED 3010
!define MOVEFILE_DELAY_UNTIL_REBOOT 4
; How long the program gets to end after it was asked to (milliseconds).
!define EXIT_TIME_LIMIT 10000

Var FilesSkipped
; Empty, or why the user's settings were kept, for the uninstaller's last page.
Var SettingsNote

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
!define MUI_FINISHPAGE_TEXT "${PRODUCT} has been removed from your computer.$SettingsNote"
; Shown with a restart choice only when a file could not be removed yet.
!define MUI_FINISHPAGE_TEXT_REBOOT "Some of ${PRODUCT}'s files are in use (the TWAIN data source, by a scanning application) and will be removed when Windows restarts.$SettingsNote$\r$\n$\r$\nRestart now?"
!insertmacro MUI_UNPAGE_FINISH

!insertmacro MUI_LANGUAGE "English"

; Asks a running Snaplark to end through its own Exit command and waits until
; it has, so that its files can be replaced or removed. It is never killed: if
; it does not end in time the user may retry, and otherwise setup stops.
!macro DEFINE_CLOSE_RUNNING prefix
Function ${prefix}CloseRunningSnaplark
  System::Call 'kernel32::GetTickCount() i .R9'
  ${Do}
    System::Call 'kernel32::GetTickCount() i .R3'
    IntOp $R3 $R3 - $R9
    IntOp $R3 ${EXIT_TIME_LIMIT} - $R3
    ${If} $R3 < 0
      StrCpy $R3 0
    ${EndIf}
    ; The tray window is message-only, so it is found under HWND_MESSAGE.
    FindWindow $R0 "${TRAY_CLASS}" "" -3
    ${If} $R0 <> 0
      DetailPrint "Closing the running ${PRODUCT}..."
      System::Call 'user32::GetWindowThreadProcessId(p R0, *i .R1)'
      System::Call 'kernel32::OpenProcess(i ${SYNCHRONIZE}, i 0, i R1) p .R2'
      System::Call 'user32::PostMessageW(p R0, i ${WM_COMMAND}, p ${TRAY_EXIT_COMMAND}, p 0)'
      ; A copy run by another account (setup elevated with an administrator's
      ; password) cannot be opened: then only its mutex below tells.
      ${If} $R2 <> 0
        System::Call 'kernel32::WaitForSingleObject(p R2, i R3)'
        System::Call 'kernel32::CloseHandle(p R2)'
      ${EndIf}
    ${EndIf}
    ; The instance is gone once its mutex is: this also covers a program that
    ; is still starting and has no tray window yet. Another account's mutex
    ; refuses to open ("access denied") while that copy still runs.
    System::Call 'kernel32::OpenMutexW(i ${SYNCHRONIZE}, i 0, w "${INSTANCE_MUTEX}") p .R2 ?e'
    Pop $R4
    ${If} $R2 = 0
    ${AndIf} $R4 <> ${ERROR_ACCESS_DENIED}
      ${Break}
    ${EndIf}
    ; The program holds its mutex until it ends: a wait on it ends then.
    ${If} $R2 <> 0
      System::Call 'kernel32::WaitForSingleObject(p R2, i 100) i .R5'
      ${If} $R5 = 0
      ${OrIf} $R5 = ${WAIT_ABANDONED}
        System::Call 'kernel32::ReleaseMutex(p R2)'
        System::Call 'kernel32::CloseHandle(p R2)'
        ${Continue}
      ${EndIf}
      System::Call 'kernel32::CloseHandle(p R2)'
    ${Else}
      Sleep 100
    ${EndIf}
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
  ${Loop}
FunctionEnd
!macroend
!insertmacro DEFINE_CLOSE_RUNNING ""
!insertmacro DEFINE_CLOSE_RUNNING "un."

; Runs the helper with `arguments` (pushed); pops its exit code: 0 done, 1 no
; signed-in user at hand, 2 failed.
!macro DEFINE_RUN_HELPER prefix
Function ${prefix}RunHelper
  Exch $0
  InitPluginsDir
  File "/oname=$PLUGINSDIR\SnaplarkSetupHelper.exe" "${HELPER}"
  ClearErrors
  ExecWait '"$PLUGINSDIR\SnaplarkSetupHelper.exe" $0' $0
  ${If} ${Errors}
    StrCpy $0 2
  ${EndIf}
  Exch $0
FunctionEnd
!macroend
!insertmacro DEFINE_RUN_HELPER ""
!insertmacro DEFINE_RUN_HELPER "un."

; The installer runs elevated, perhaps as another account, and so would a
; program it started itself: the user's desktop shell starts it instead, as
; the signed-in user. With no such user (no shell, SYSTEM, session 0, as in
; a managed deployment) nothing is started.
Function StartUnelevated
  Push 'start "$INSTDIR\${PROGRAM}"'
  Call RunHelper
  Pop $0
  ${If} $0 <> 0
    DetailPrint "${PRODUCT} was not started: no signed-in user's desktop to start it on."
  ${EndIf}
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
  File "${PRODUCT_DIR}/${PROGRAM}"
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

  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\${PROGRAM}" "" "$INSTDIR\${PROGRAM}" 0

  WriteUninstaller "$INSTDIR\Uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${PROGRAM},0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  ; In place, so that the command returns when the removal is done (see un.onInit).
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S _?=$INSTDIR'
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
  WriteRegStr HKLM "${RUN_KEY}" "${PRODUCT}" '"$INSTDIR\${PROGRAM}"'
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

; Run in place (_?=), so that its caller waits for the work, the uninstaller
; holds its own file. A copy of it in the temporary folder waits for it to
; end and then removes that file and the folder; the copy itself goes at the
; next restart.
Function un.RemoveSelfOnceEnded
  Delete "$INSTDIR\Uninstall.exe"
  ${IfNot} ${FileExists} "$INSTDIR\Uninstall.exe"
    RMDir /REBOOTOK "$INSTDIR"
    Return
  ${EndIf}
  GetTempFileName $R0
  Delete $R0
  StrCpy $R0 "$R0.exe"
  CopyFiles /SILENT "$EXEPATH" $R0
  System::Call 'kernel32::GetCurrentProcessId() i .R1'
  Exec '"$R0" /AFTER=$R1 _?=$INSTDIR'
  System::Call 'kernel32::MoveFileExW(w R0, p 0, i ${MOVEFILE_DELAY_UNTIL_REBOOT})'
FunctionEnd

Section "un.${PRODUCT}" SecUninstallProgram
  SectionIn RO
  Call un.CloseRunningSnaplark

  ; A program file still held (a copy that did not end) stops the removal
  ; before anything is gone, the uninstall entry included.
  ClearErrors
  Delete "$INSTDIR\${PROGRAM}"
  ${If} ${Errors}
    MessageBox MB_OK|MB_ICONSTOP "$INSTDIR\${PROGRAM} is in use and cannot be removed. Close ${PRODUCT} and try again." /SD IDOK
    DetailPrint "$INSTDIR\${PROGRAM} is in use; nothing was removed."
    Abort
  ${EndIf}
  ; A scanning application may hold the data source: it goes at the next restart.
  Delete /REBOOTOK "$INSTDIR\${DATA_SOURCE}"
  ; The folder itself belongs to Windows and other scanners' sources.
  Delete /REBOOTOK "$WINDIR\twain_32\${DATA_SOURCE}"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  DeleteRegValue HKLM "${RUN_KEY}" "${PRODUCT}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  Call un.RemoveSelfOnceEnded
  ${If} ${RebootFlag}
    DetailPrint "The TWAIN data source is in use; it will be removed when Windows restarts."
  ${EndIf}
SectionEnd

; The settings live in the hive of the user signed in to the desk, who may
; not be the account the uninstaller runs as: HKCU would be the wrong hive.
Section /o "un.Remove my ${PRODUCT} settings" SecRemoveSettings
  Push "remove-settings"
  Call un.RunHelper
  Pop $0
  ${If} $0 <> 0
    StrCpy $SettingsNote "$\r$\n$\r$\nYour ${PRODUCT} settings were kept: no signed-in user could be found whose settings to remove."
    DetailPrint "The settings were kept: no signed-in user could be found."
  ${EndIf}
SectionEnd

; After the sections: it selects one by its index.
Function un.onInit
  SetShellVarContext all
  ${GetParameters} $0
  ; The copy that removes the uninstaller once the uninstaller has ended.
  ClearErrors
  ${GetOptions} $0 "/AFTER=" $R1
  ${IfNot} ${Errors}
    System::Call 'kernel32::OpenProcess(i ${SYNCHRONIZE}, i 0, i R1) p .R2'
    ${If} $R2 <> 0
      System::Call 'kernel32::WaitForSingleObject(p R2, i ${EXIT_TIME_LIMIT})'
      System::Call 'kernel32::CloseHandle(p R2)'
    ${EndIf}
    Delete "$INSTDIR\Uninstall.exe"
    RMDir /REBOOTOK "$INSTDIR"
    Quit
  ${EndIf}
  ClearErrors
  ${GetOptions} $0 "/REMOVESETTINGS" $1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecRemoveSettings}
  ${EndIf}
FunctionEnd

Function un.onUninstSuccess
  ${If} ${Silent}
  ${AndIf} ${RebootFlag}
    SetErrorLevel ${ERROR_SUCCESS_REBOOT_REQUIRED}
  ${EndIf}
FunctionEnd
