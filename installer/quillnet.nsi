; Quillnet installer (NSIS 3, makensis).
;
; One script, two packages: the build passes the architecture and the files.
;   ARCH         x64 (64-bit installer, Program Files) or x86 (32-bit)
;   VERSION      four dot-separated numbers, the client's file version
;   OUTFILE      the installer to write
;   CLIENT_EXE   the built Quillnet.exe
;   BIND_DLL     optional: the built bind module, installed as QuillnetBind.dll
;   BIND32_DLL   optional (x64): the 32-bit bind module, x86\QuillnetBind.dll,
;                packaged when the file exists
;   OPENVPN_EXE_DIR  optional: the cross-built openvpn (openvpn.exe and the
;                licence files of it and its libraries), installed as openvpn\
;   CA_CRT       optional: the operator's CA certificate, openvpn\ca.crt
;   TAP_DIR      optional: the TAP driver package, a folder holding driver_x86\
;                and driver_x64\; without it the client meets no adapter and
;                reports that the driver cannot be installed
;   Whatever of these files exists is packaged.
;   ICON         the product icon
;
; The online update opens the downloaded installer without arguments while the
; old client is still closing, so the installer first waits for the client's
; single-instance mutex, and installs over the folder of the previous install.
; "/S" installs silently, "/D=folder" (last) picks the folder.
;
; The uninstaller removes only the files listed here (a file the user put into
; the folder keeps the folder), and unregisters the bind module before it
; deletes it. A module still loaded by running programs goes at the next start.

Unicode true
!if "${ARCH}" == "x64"
  Target amd64-unicode
!else
  Target x86-unicode
!endif
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!include MUI2.nsh
!include LogicLib.nsh
!include WinVer.nsh

!define PRODUCT "Quillnet"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define INSTANCE_MUTEX "Global\VELDTRUN_SINGLE_{05F607A4-6E2F-42e8-AFE0-7F56211E6B88}"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
!if "${ARCH}" == "x64"
  InstallDir "$PROGRAMFILES64\${PRODUCT}"
!else
  InstallDir "$PROGRAMFILES\${PRODUCT}"
!endif
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} Setup (${ARCH})"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${PRODUCT}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\Quillnet.exe"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Every file of the openvpn folder, for both the install and the removal.
!macro OpenVpnFiles ACTION
  !ifdef OPENVPN_EXE_DIR
    !insertmacro OpenVpn${ACTION} "${OPENVPN_EXE_DIR}" "." "openvpn.exe"
    !insertmacro OpenVpn${ACTION} "${OPENVPN_EXE_DIR}" "." "COPYING.openvpn"
    !insertmacro OpenVpn${ACTION} "${OPENVPN_EXE_DIR}" "." "COPYING.lzo"
    !insertmacro OpenVpn${ACTION} "${OPENVPN_EXE_DIR}" "." "COPYING.lz4"
  !endif
  !ifdef TAP_DIR
    !insertmacro OpenVpn${ACTION} "${TAP_DIR}" "driver_x86" "OemWin2k.inf"
    !insertmacro OpenVpn${ACTION} "${TAP_DIR}" "driver_x86" "tap0901_openvpn_accl.cat"
    !insertmacro OpenVpn${ACTION} "${TAP_DIR}" "driver_x86" "tap0901_openvpn_accl.sys"
    !insertmacro OpenVpn${ACTION} "${TAP_DIR}" "driver_x86" "tapinstall.exe"
    !insertmacro OpenVpn${ACTION} "${TAP_DIR}" "driver_x64" "OemWin2k.inf"
    !insertmacro OpenVpn${ACTION} "${TAP_DIR}" "driver_x64" "tap0901_openvpn_accl.cat"
    !insertmacro OpenVpn${ACTION} "${TAP_DIR}" "driver_x64" "tap0901_openvpn_accl.sys"
    !insertmacro OpenVpn${ACTION} "${TAP_DIR}" "driver_x64" "tapinstall.exe"
  !endif
  !ifdef CA_CRT
    !insertmacro OpenVpnCa${ACTION}
  !endif
!macroend
!macro OpenVpnInstall FROM SUB NAME
  !if /FileExists "${FROM}/${SUB}/${NAME}"
    SetOutPath "$INSTDIR\openvpn\${SUB}"
    File "${FROM}/${SUB}/${NAME}"
  !endif
!macroend
!macro OpenVpnRemove FROM SUB NAME
  !if /FileExists "${FROM}/${SUB}/${NAME}"
    Delete /REBOOTOK "$INSTDIR\openvpn\${SUB}\${NAME}"
  !endif
!macroend
!macro OpenVpnCaInstall
  SetOutPath "$INSTDIR\openvpn"
  File "/oname=ca.crt" "${CA_CRT}"
!macroend
!macro OpenVpnCaRemove
  Delete "$INSTDIR\openvpn\ca.crt"
!macroend

!macro Bind32Install
  !ifdef BIND32_DLL
    !if /FileExists "${BIND32_DLL}"
      Call HasCatalog32
      ${If} $0 = 1
      SetOutPath "$INSTDIR\x86"
      ${If} ${FileExists} "$INSTDIR\x86\QuillnetBind.dll"
        Delete "$INSTDIR\x86\QuillnetBind.old"
        Rename "$INSTDIR\x86\QuillnetBind.dll" "$INSTDIR\x86\QuillnetBind.old"
        Delete /REBOOTOK "$INSTDIR\x86\QuillnetBind.old"
      ${EndIf}
      File "/oname=QuillnetBind.dll" "${BIND32_DLL}"
      SetOutPath "$INSTDIR"
      ${EndIf}
    !endif
  !endif
!macroend
; Whether the system has a 32-bit socket catalog for the 32-bit module ($0 = 1).
; Wine has none: its 32-bit catalog functions abort the caller, and the x64
; module registers into that catalog whenever it finds the 32-bit module.
; BIND32_ALWAYS (tests) places the module anyway.
!ifdef BIND32_DLL
Function HasCatalog32
  StrCpy $0 1
  !ifndef BIND32_ALWAYS
    System::Call 'kernel32::GetModuleHandleW(w "ntdll") p .r1'
    System::Call 'kernel32::GetProcAddress(p r1, m "wine_get_version") p .r1'
    ${If} $1 P<> 0
      StrCpy $0 0
    ${EndIf}
  !endif
FunctionEnd
!endif
; After the unregistration, which needs it to take the 32-bit entries out.
!macro Bind32Remove
  !ifdef BIND32_DLL
    !if /FileExists "${BIND32_DLL}"
      Delete /REBOOTOK "$INSTDIR\x86\QuillnetBind.dll"
      Delete /REBOOTOK "$INSTDIR\x86\QuillnetBind.old"
      RMDir /REBOOTOK "$INSTDIR\x86"
    !endif
  !endif
!macroend

; Waits for a running client to end (the update starts us while it closes).
; A silent install has nobody to click Retry: it waits up to a minute, which
; a client closing on a busy machine needs, before it gives up.
!macro WaitForClient UN
  Function ${UN}WaitForClient
    StrCpy $2 0
    retry:
    System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "${INSTANCE_MUTEX}") p .r0'
    ${If} $0 P<> 0
      System::Call 'kernel32::WaitForSingleObject(p r0, i 15000) i .r1'
      ${If} $1 <> 258
        System::Call 'kernel32::ReleaseMutex(p r0)'
      ${EndIf}
      System::Call 'kernel32::CloseHandle(p r0)'
      ${If} $1 = 258
      ${AndIf} ${Silent}
      ${AndIf} $2 < 3
        IntOp $2 $2 + 1
        Goto retry
      ${EndIf}
      ${If} $1 = 258
        MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "${PRODUCT} is still running. Please close it and click Retry." /SD IDCANCEL IDRETRY retry
        SetErrorLevel 2
        Quit
      ${EndIf}
    ${EndIf}
  FunctionEnd
!macroend
!insertmacro WaitForClient ""
!insertmacro WaitForClient "un."

; Each package is native to its architecture, so its registry view is the
; right one (the x86 one lands in the 32-bit view on 64-bit Windows).
Function .onInit
  ; The client imports what only Windows 7 SP1 and later have: an older
  ; system could not even start it.
  ${IfNot} ${AtLeastWin7}
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} needs Windows 7 Service Pack 1 or later." /SD IDOK
    Abort
  ${EndIf}
  ${If} ${IsWin7}
  ${AndIfNot} ${AtLeastServicePack} 1
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} needs Windows 7 Service Pack 1 or later." /SD IDOK
    Abort
  ${EndIf}
  Call WaitForClient
FunctionEnd

Section "Quillnet"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  File "/oname=Quillnet.exe" "${CLIENT_EXE}"

  !ifdef BIND_DLL
    ; A registered module may be loaded into running programs: move it aside
    ; (allowed while loaded) instead of overwriting it.
    ${If} ${FileExists} "$INSTDIR\QuillnetBind.dll"
      UnRegDLL "$INSTDIR\QuillnetBind.dll"
      Delete "$INSTDIR\QuillnetBind.old"
      Rename "$INSTDIR\QuillnetBind.dll" "$INSTDIR\QuillnetBind.old"
      Delete /REBOOTOK "$INSTDIR\QuillnetBind.old"
    ${EndIf}
    File "/oname=QuillnetBind.dll" "${BIND_DLL}"
    ; The 32-bit module must be in place before the registration, which
    ; puts it into the 32-bit catalog only when it finds it.
    !insertmacro Bind32Install
    ; Unregister first, as the client's "/register" does: registering over a
    ; registration fails. A failure is not fatal; the client registers the
    ; module itself at start when it is not active.
    ClearErrors
    UnRegDLL "$INSTDIR\QuillnetBind.dll"
    ClearErrors
    RegDLL "$INSTDIR\QuillnetBind.dll"
    ${If} ${Errors}
      DetailPrint "The accelerator module could not be registered; ${PRODUCT} retries at start."
    ${EndIf}
  !endif

  !insertmacro OpenVpnFiles Install

  SetOutPath "$INSTDIR"
  SetShellVarContext all
  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\Quillnet.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Quillnet.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Function un.onInit
  Call un.WaitForClient
FunctionEnd

Section "Uninstall"
  !ifdef BIND_DLL
    ClearErrors
    UnRegDLL "$INSTDIR\QuillnetBind.dll"
    Delete /REBOOTOK "$INSTDIR\QuillnetBind.dll"
    Delete /REBOOTOK "$INSTDIR\QuillnetBind.old"
    !insertmacro Bind32Remove
  !endif
  Delete "$INSTDIR\Quillnet.exe"

  !insertmacro OpenVpnFiles Remove
  RMDir /REBOOTOK "$INSTDIR\openvpn\driver_x86"
  RMDir /REBOOTOK "$INSTDIR\openvpn\driver_x64"
  RMDir /REBOOTOK "$INSTDIR\openvpn"

  SetShellVarContext all
  Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"

  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir /REBOOTOK "$INSTDIR"
SectionEnd
