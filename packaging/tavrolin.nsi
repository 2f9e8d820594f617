; Set-up and removal of Tavrolin, one script for both releases. CMake passes TAVROL_SETUP_NSH, the
; build tree's setup.nsh: the version, the flavor (win32: the x86 ANSI stub that Windows 98 SE
; runs; win64: the amd64 stub), the staged files of the zip and the names the program uses.
;
; Set-up puts the files into Program Files, a Start-menu shortcut and the entry of Add or Remove
; Programs. It never touches the stored settings or the log-on entry, so that installing over an
; earlier version keeps both. Removal takes away everything set-up and the program put on the
; machine, and nothing else.

!include "${TAVROL_SETUP_NSH}"

!if "${TAVROL_FLAVOR}" == "win64"
  Target amd64-unicode
  !define TAVROL_PROGRAM_FILES "$PROGRAMFILES64"
!else
  Target x86-ansi
  !define TAVROL_PROGRAM_FILES "$PROGRAMFILES"
!endif

!include LogicLib.nsh
!include WinVer.nsh
!include x64.nsh
!include FileFunc.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${TAVROL_TITLE}"
!define UNINSTALLER "Uninstall.exe"
; NSIS's own exit code for a set-up that its script ended.
!define EXIT_REFUSED 2
!define SYNCHRONIZE 0x00100000
!define SC_MANAGER_ALL_ACCESS 0xF003F
!define SERVICE_ALL_ACCESS 0xF01FF
!define SERVICE_CONTROL_STOP 1

Name "${TAVROL_TITLE}"
OutFile "${TAVROL_OUTFILE}"
InstallDir "${TAVROL_PROGRAM_FILES}\${TAVROL_COMPANY}\${TAVROL_PRODUCT}"
; Over an earlier version, its folder.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
Icon "${TAVROL_ICON}"
UninstallIcon "${TAVROL_ICON}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${TAVROL_VERSION_QUAD}"
VIAddVersionKey "ProductName" "${TAVROL_TITLE}"
VIAddVersionKey "ProductVersion" "${TAVROL_VERSION}"
VIAddVersionKey "FileVersion" "${TAVROL_VERSION}"
VIAddVersionKey "FileDescription" "${TAVROL_TITLE} set-up"
VIAddVersionKey "CompanyName" "${TAVROL_COMPANY}"
VIAddVersionKey "LegalCopyright" "${TAVROL_COPYRIGHT}"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; Shows why set-up or removal cannot go on (silently, with /S) and ends it.
!macro TAVROL_REFUSE TEXT
  MessageBox MB_OK|MB_ICONSTOP "${TEXT}" /SD IDOK
  SetErrorLevel ${EXIT_REFUSED}
  Quit
!macroend

; The functions that set-up and the uninstaller both need; NSIS wants the uninstaller's own
; copies, named un.*.
!macro TAVROL_SHARED_FUNCTIONS UN
  ; $0 = 1 while the program is open: it holds its single-instance mutex.
  Function ${UN}tavrolRuns
    StrCpy $0 0
    System::Call 'kernel32::OpenMutex(i ${SYNCHRONIZE}, i 0, t "${TAVROL_MUTEX_NAME}") p .r1'
    ${If} $1 != 0
      System::Call 'kernel32::CloseHandle(p r1)'
      StrCpy $0 1
    ${EndIf}
  FunctionEnd

  ; Windows 9x has no accounts: UserInfo calls everyone there an administrator.
  Function ${UN}tavrolIsAdmin
    UserInfo::GetAccountType
    Pop $0
    ${If} $0 == "Admin"
      StrCpy $0 1
    ${Else}
      StrCpy $0 0
    ${EndIf}
  FunctionEnd
!macroend

!insertmacro TAVROL_SHARED_FUNCTIONS ""
!insertmacro TAVROL_SHARED_FUNCTIONS "un."

Function .onInit
!if "${TAVROL_FLAVOR}" == "win32"
  ${If} ${RunningX64}
    !insertmacro TAVROL_REFUSE "This set-up is for 32-bit Windows. On 64-bit Windows install \
        Tavrolin with ${TAVROL_WIN64_SETUP}, the set-up for 64-bit Windows."
  ${EndIf}
!else
  SetRegView 64
!endif
  Call tavrolIsAdmin
  ${If} $0 != 1
    !insertmacro TAVROL_REFUSE "Installing Tavrolin needs administrator rights. Log on as an \
        administrator, or right-click the set-up and choose $\"Run as administrator$\", and start \
        it again."
  ${EndIf}
  Call tavrolRuns
  ${If} $0 == 1
    !insertmacro TAVROL_REFUSE "Tavrolin is running. Close it, then start the set-up again."
  ${EndIf}
FunctionEnd

Section "Tavrolin" SEC_PROGRAM
  SetOutPath "$INSTDIR"
  !insertmacro TAVROL_INSTALL_FILES
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  ; For every user; Windows 98 without user profiles has only the one Start menu.
  SetShellVarContext all
  ; Tavrol.exe carries no icon: the resource library holds it.
  CreateShortcut "$SMPROGRAMS\${TAVROL_PRODUCT}.lnk" "$INSTDIR\Tavrol.exe" "" \
      "$INSTDIR\Tavrol.tvx" 0

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${TAVROL_TITLE}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${TAVROL_VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${TAVROL_COMPANY}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Tavrol.tvx,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  SectionGetSize ${SEC_PROGRAM} $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Function un.onInit
!if "${TAVROL_FLAVOR}" == "win64"
  SetRegView 64
!endif
  Call un.tavrolIsAdmin
  ${If} $0 != 1
    !insertmacro TAVROL_REFUSE "Removing Tavrolin needs administrator rights. Log on as an \
        administrator and remove it again."
  ${EndIf}
  Call un.tavrolRuns
  ${If} $0 == 1
    !insertmacro TAVROL_REFUSE "Tavrolin is running. Close it, then remove Tavrolin again."
  ${EndIf}
FunctionEnd

; A killed run can leave the driver service and its copy in the system's driver folder behind.
; They go only when the service loads our copy: a TAVROL service of something else stays. The
; service manager may keep the path as given, in its NT form or relative to the system root.
Function un.removeLeftDriver
  StrCpy $1 "$SYSDIR\drivers\${DRIVER_FILE_NAME}"
  ReadRegStr $0 HKLM "SYSTEM\CurrentControlSet\Services\${DRIVER_SERVICE_NAME}" "ImagePath"
  ${If} $0 == $1
  ${OrIf} $0 == "\??\$1"
  ${OrIf} $0 == "System32\drivers\${DRIVER_FILE_NAME}"
  ${OrIf} $0 == "\SystemRoot\System32\drivers\${DRIVER_FILE_NAME}"
  ${OrIf} $0 == "%SystemRoot%\System32\drivers\${DRIVER_FILE_NAME}"
    Call un.removeDriverService
    ; A driver that has not unloaded yet keeps its file until the next start of Windows.
    Delete /REBOOTOK "$1"
  ${EndIf}
FunctionEnd

Function un.removeDriverService
  System::Call 'advapi32::OpenSCManager(p 0, p 0, i ${SC_MANAGER_ALL_ACCESS}) p .r2'
  ${If} $2 != 0
    System::Call 'advapi32::OpenService(p r2, t "${DRIVER_SERVICE_NAME}", \
        i ${SERVICE_ALL_ACCESS}) p .r3'
    ${If} $3 != 0
      ; SERVICE_STATUS: seven DWORDs, not read.
      System::Call '*(i, i, i, i, i, i, i) p .r4'
      System::Call 'advapi32::ControlService(p r3, i ${SERVICE_CONTROL_STOP}, p r4) i'
      System::Free $4
      System::Call 'advapi32::DeleteService(p r3) i'
      System::Call 'advapi32::CloseServiceHandle(p r3) i'
    ${EndIf}
    System::Call 'advapi32::CloseServiceHandle(p r2) i'
  ${EndIf}
FunctionEnd

Section "Uninstall"
  !insertmacro TAVROL_REMOVE_FILES
  Delete "$INSTDIR\${UNINSTALLER}"
  RMDir "$INSTDIR"
  ; The company folder too, when set-up made it and nothing else is left in it.
  ${GetParent} "$INSTDIR" $0
  ${GetFileName} "$0" $1
  ${If} $1 == "${TAVROL_COMPANY}"
    RMDir "$0"
  ${EndIf}

  SetShellVarContext all
  Delete "$SMPROGRAMS\${TAVROL_PRODUCT}.lnk"

  ; The log-on entry: the Run value, and from Vista on the task.
  DeleteRegValue HKLM "${RUN_KEY_PATH}" "${RUN_VALUE_NAME}"
  ${If} ${AtLeastWinVista}
    nsExec::Exec '"$SYSDIR\schtasks.exe" /Delete /TN "${LOGON_TASK_NAME}" /F'
    Pop $0
  ${EndIf}

  DeleteRegKey HKLM "${SETTINGS_KEY_PATH}"
  ${GetParent} "${SETTINGS_KEY_PATH}" $0
  DeleteRegKey /ifempty HKLM "$0"

  Call un.removeLeftDriver
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
