; The installer's own steps, included into CMake's template next to its texts: the PATH
; choice on the command line, and the firewall rules.
!include FileFunc.nsh
!include LogicLib.nsh

; A silent install shows no options page, so /PATH=ALL, /PATH=USER or /PATH=NO chooses what
; the page would (any other value, or none, leaves the page's default: not on PATH). Run in
; .onInit once the page's ini is extracted; a shown page starts with that choice made.
!macro PathSwitch
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/PATH=" $R1
  StrCpy $R2 ""
  ${If} $R1 == "NO"
    StrCpy $R2 2
  ${ElseIf} $R1 == "ALL"
    StrCpy $R2 3
  ${ElseIf} $R1 == "USER"
    StrCpy $R2 4
  ${EndIf}
  ${If} $R2 != ""
    !insertmacro MUI_INSTALLOPTIONS_WRITE "NSIS.InstallOptions.ini" "Field 2" "State" 0
    !insertmacro MUI_INSTALLOPTIONS_WRITE "NSIS.InstallOptions.ini" "Field 3" "State" 0
    !insertmacro MUI_INSTALLOPTIONS_WRITE "NSIS.InstallOptions.ini" "Field 4" "State" 0
    !insertmacro MUI_INSTALLOPTIONS_WRITE "NSIS.InstallOptions.ini" "Field $R2" "State" 1
  ${EndIf}
!macroend

; Windows Firewall: the answers come in unasked on UDP 8839 and 7839, so each program gets an
; inbound rule of its own, for those ports only, on every profile: a laptop on an isolated
; device switch sees an "unidentified network", which Windows puts in the Public profile,
; and a Private-only rule would hear nothing there.
Var FIREWALL_FAILED

!macro Netsh ARGUMENTS
  nsExec::ExecToLog '"$SYSDIR\netsh.exe" advfirewall firewall ${ARGUMENTS}'
  Pop $0
!macroend

; A block rule wins over any allow rule, and answering the firewall's prompt for a program
; with Cancel leaves block rules for its path: every rule for the path goes first, then ours
; by its name (a reinstall into another folder leaves one, not two). A delete exits 1 both
; when nothing matched and when it failed, so only the add's status counts: a firewall that
; takes no rule (its service stopped, rules set by Group Policy) refuses the add as well.
!macro AllowProgram NAME PROGRAM
  !insertmacro Netsh 'delete rule name=all program="$INSTDIR\${PROGRAM}"'
  !insertmacro Netsh 'delete rule name="${NAME}"'
  !insertmacro Netsh 'add rule name="${NAME}" dir=in action=allow protocol=UDP localport=8839,7839 profile=any program="$INSTDIR\${PROGRAM}"'
  ${If} $0 != 0
    StrCpy $1 "$INSTDIR\${PROGRAM}"
    DetailPrint "$(FirewallFailed)"
    StrCpy $FIREWALL_FAILED 1
  ${EndIf}
!macroend

; The programs stay installed when a rule is refused; the user is told, and a silent
; install exits with status 3 (NSIS's own are 1, cancelled, and 2, aborted).
!macro AllowThroughFirewall
  StrCpy $FIREWALL_FAILED 0
  !insertmacro AllowProgram "Device Search (window)" devicesearch.exe
  !insertmacro AllowProgram "Device Search (command line)" devicesearch-cli.exe
  ${If} $FIREWALL_FAILED == 1
    SetErrorLevel 3
    MessageBox MB_OK|MB_ICONEXCLAMATION "$(FirewallFailedBox)" /SD IDOK
  ${EndIf}
!macroend

; By their names, which nothing else uses; a rule already gone is nothing to undo.
!macro DeleteFirewallRules
  !insertmacro Netsh 'delete rule name="Device Search (window)"'
  !insertmacro Netsh 'delete rule name="Device Search (command line)"'
!macroend
