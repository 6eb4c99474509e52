; The installer's own steps, included into CMake's template next to its texts: the PATH
; choice on the command line, the folder on Path, and the firewall rules.
!include FileFunc.nsh
!include LogicLib.nsh

; A silent install's exit status: the first problem's, in this order (NSIS's own are 1,
; cancelled, and 2, aborted); the programs are installed in every case.
!define STATUS_FIREWALL_REFUSED 3
!define STATUS_FIREWALL_POLICY 4
!define STATUS_PATH_UNCHANGED 5
!macro SetStatus STATUS
  GetErrorLevel $R9
  ${If} $R9 < 1
    SetErrorLevel ${STATUS}
  ${EndIf}
!macroend

; installstep.exe (installstep.c), carried by the installer and the uninstaller alike, run
; from their temporary folder: $0 its exit status ("error" if it could not start), $1 what
; it printed.
!macro InstallStep ARGUMENTS
  InitPluginsDir
  File "/oname=$PLUGINSDIR\installstep.exe" "${INSTALL_STEP}"
  nsExec::ExecToStack '"$PLUGINSDIR\installstep.exe" ${ARGUMENTS}'
  Pop $0
  Pop $1
!macroend

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

; The folder on Path, for all users or the current one, by the step: NSIS's strings would
; cut a long Path. It is added once, at the end; the uninstaller takes it off only where
; the installer added it (marked under the uninstall key), so a folder that was on Path
; before stays there. A Path that cannot be changed is left exactly as it was.
Var PATH_SCOPE
Var PATH_REMOVE_ALL
Var PATH_REMOVE_USER

; $2 the folder as one argument: a trailing backslash would escape the closing quote.
!macro QuotedFolder
  StrCpy $2 $INSTDIR 1 -1
  ${If} $2 == "\"
    StrCpy $2 "$INSTDIR\"
  ${Else}
    StrCpy $2 $INSTDIR
  ${EndIf}
!macroend

; $3 which Path, in the installer's language.
!macro PathScopeText SCOPE
  ${If} ${SCOPE} == all
    StrCpy $3 "$(PathOfAllUsers)"
  ${Else}
    StrCpy $3 "$(PathOfCurrentUser)"
  ${EndIf}
!macroend

; The details line of a step that left Path as it was, saying why.
!macro PathUnchangedDetail
  ${If} $0 == 2
    DetailPrint "$(PathTooLong)"
  ${ElseIf} $0 == 3
    DetailPrint "$(PathRefused)"
  ${ElseIf} $0 == 4
    DetailPrint "$(PathNotText)"
  ${Else}
    DetailPrint "$(PathStepFailed)"
  ${EndIf}
!macroend

!macro AddToPathStep
  StrCpy $PATH_SCOPE ""
  ${If} $ADD_TO_PATH_ALL_USERS == 1
    StrCpy $PATH_SCOPE all
  ${ElseIf} $ADD_TO_PATH_CURRENT_USER == 1
    StrCpy $PATH_SCOPE user
  ${EndIf}
  ${If} $PATH_SCOPE != ""
    !insertmacro QuotedFolder
    !insertmacro PathScopeText $PATH_SCOPE
    !insertmacro InstallStep 'path-add $PATH_SCOPE "$2"'
    ${If} $0 == 0
      DetailPrint "$(PathAdded)"
      WriteRegStr SHCTX "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PACKAGE_REGISTRY_KEY}" "PathAdded_$PATH_SCOPE" 1
    ${ElseIf} $0 == 1
      DetailPrint "$(PathPresent)"
    ${Else}
      !insertmacro PathUnchangedDetail
      !insertmacro SetStatus ${STATUS_PATH_UNCHANGED}
      MessageBox MB_OK|MB_ICONEXCLAMATION "$(PathUnchangedBox)" /SD IDOK
    ${EndIf}
  ${EndIf}
!macroend

!macro ReadPathMarks
  ReadRegStr $PATH_REMOVE_ALL SHCTX "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PACKAGE_REGISTRY_KEY}" "PathAdded_all"
  ReadRegStr $PATH_REMOVE_USER SHCTX "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PACKAGE_REGISTRY_KEY}" "PathAdded_user"
!macroend

!macro RemoveFromPathIn SCOPE
  !insertmacro PathScopeText ${SCOPE}
  !insertmacro InstallStep 'path-remove ${SCOPE} "$2"'
  ${If} $0 == 0
    DetailPrint "$(PathRemoved)"
  ${ElseIf} $0 == 1
    DetailPrint "$(PathAbsent)"
  ${Else}
    ; no exit status: an install that runs this uninstaller first would stop at it
    !insertmacro PathUnchangedDetail
    MessageBox MB_OK|MB_ICONEXCLAMATION "$(PathNotRemovedBox)" /SD IDOK
  ${EndIf}
!macroend

!macro RemoveFromPathStep
  !insertmacro QuotedFolder
  ${If} $PATH_REMOVE_ALL == 1
    !insertmacro RemoveFromPathIn all
  ${EndIf}
  ${If} $PATH_REMOVE_USER == 1
    !insertmacro RemoveFromPathIn user
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

; A rule in the local store takes effect only where Group Policy lets local rules merge and
; inbound traffic is not blocked outright; netsh says nothing of either. A firewall that
; cannot be asked (the step's status 3) is only noted in the details. The answer stays
; under the uninstall key too, for a silent roll-out to read afterwards.
!macro CheckFirewallPolicy
  !insertmacro InstallStep firewall-policy
  ${If} $0 == 0
    StrCpy $3 "apply"
  ${ElseIf} $0 == 1
    StrCpy $3 "overridden by Group Policy"
  ${ElseIf} $0 == 2
    StrCpy $3 "inbound blocked"
  ${Else}
    StrCpy $3 "unknown: $0 $1"
  ${EndIf}
  WriteRegStr SHCTX "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PACKAGE_REGISTRY_KEY}" "FirewallLocalRules" $3
  ${If} $0 == 0
    DetailPrint "$(FirewallPolicyLocal)"
  ${ElseIf} $0 == 1
  ${OrIf} $0 == 2
    ${If} $0 == 1
      StrCpy $2 "$(FirewallPolicyGroup)"
    ${Else}
      StrCpy $2 "$(FirewallPolicyBlocked)"
    ${EndIf}
    DetailPrint $2
    ; rules refused already have their box and status
    ${If} $FIREWALL_FAILED == 0
      !insertmacro SetStatus ${STATUS_FIREWALL_POLICY}
      MessageBox MB_OK|MB_ICONEXCLAMATION "$(FirewallPolicyBox)" /SD IDOK
    ${EndIf}
  ${Else}
    DetailPrint "$(FirewallPolicyUnknown)"
  ${EndIf}
!macroend

; The programs stay installed when a rule is refused; the user is told, and a silent
; install says so in its exit status.
!macro AllowThroughFirewall
  StrCpy $FIREWALL_FAILED 0
  !insertmacro AllowProgram "Device Search (window)" devicesearch.exe
  !insertmacro AllowProgram "Device Search (command line)" devicesearch-cli.exe
  ${If} $FIREWALL_FAILED == 1
    !insertmacro SetStatus ${STATUS_FIREWALL_REFUSED}
    MessageBox MB_OK|MB_ICONEXCLAMATION "$(FirewallFailedBox)" /SD IDOK
  ${EndIf}
  !insertmacro CheckFirewallPolicy
!macroend

; By their names, which nothing else uses; a rule already gone is nothing to undo.
!macro DeleteFirewallRules
  !insertmacro Netsh 'delete rule name="Device Search (window)"'
  !insertmacro Netsh 'delete rule name="Device Search (command line)"'
!macroend
