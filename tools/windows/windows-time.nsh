; The installer's optional components for the Windows Time service, included by installer.nsi
; after the program's own section.
;
; "Mantener la hora del PC con el dispositivo": installs quorvel-refclock.exe and
; QuorvelTimeProvider.dll; creates the service quorvel-refclock (automatic start, account
; NT AUTHORITY\LocalService, no privilege but SeChangeNotifyPrivilege) and starts it; registers
; the provider with the Time service and turns the Time service's NTP client off, so that the
; provider is its only input; then restarts the Time service.
; "Servir la hora a la red": turns the Time service's NTP server on and announces it as a
; reliable time server.
; Every value changed is first kept in the uninstall key (Prev* values; "-" for a value that
; did not exist), and the uninstaller puts it back.
;
; Silent installs choose with options: /HORA, /RED, /PUERTO=N (the device's COM port, 1 to 4;
; 1 when not given).

!define W32TIME "SYSTEM\CurrentControlSet\Services\W32Time"
!define PROVIDER_KEY "${W32TIME}\TimeProviders\QuorvelTimeProvider"
!define NTPCLIENT_KEY "${W32TIME}\TimeProviders\NtpClient"
!define NTPSERVER_KEY "${W32TIME}\TimeProviders\NtpServer"
!define SERVICE "quorvel-refclock"
!define SERVICE_KEY "SYSTEM\CurrentControlSet\Services\${SERVICE}"
; AnnounceFlags 5: always a time server (1) and always a reliable one (4), as a machine with a
; hardware reference clock is.
!define ANNOUNCE_RELIABLE 5

Var Port

; Keeps the DWORD `NAME` of `KEY` in the uninstall key as `PREV` ("-" when absent), once: an
; install over an install keeps the value from before the first.
!macro QUORVEL_KEEP_DWORD KEY NAME PREV
    ClearErrors
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "${PREV}"
    ${If} ${Errors}
        ClearErrors
        ReadRegDWORD $0 HKLM "${KEY}" "${NAME}"
        ${If} ${Errors}
            StrCpy $0 "-"
        ${EndIf}
        WriteRegStr HKLM "${UNINSTALL_KEY}" "${PREV}" "$0"
    ${EndIf}
!macroend

; Puts back what QUORVEL_KEEP_DWORD kept.
!macro QUORVEL_RESTORE_DWORD KEY NAME PREV
    ClearErrors
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "${PREV}"
    ${IfNot} ${Errors}
        ${If} $0 == "-"
            DeleteRegValue HKLM "${KEY}" "${NAME}"
        ${Else}
            WriteRegDWORD HKLM "${KEY}" "${NAME}" $0
        ${EndIf}
    ${EndIf}
!macroend

; Stops and starts the Time service, so that it reads its settings and providers anew.
!macro QUORVEL_RESTART_TIME_SERVICE
    nsExec::ExecToLog '"$SYSDIR\net.exe" stop w32time'
    Pop $0
    nsExec::ExecToLog '"$SYSDIR\net.exe" start w32time'
    Pop $0
    DetailPrint "Servicio de hora de Windows reiniciado (resultado $0)."
!macroend

Section /o "Mantener la hora del PC con el dispositivo" SecTime
    SetOutPath "$INSTDIR"
    File "${SERVICE_STAGE}\quorvel-refclock.exe"
    File "${SERVICE_STAGE}\QuorvelTimeProvider.dll"

    ; The service. LocalService: the least privileged account the service manager runs a
    ; service under that can open a COM port (the ports' devices let local users read and write;
    ; NetworkService would add network credentials it does not need). Its privileges are cut to
    ; SeChangeNotifyPrivilege, so that it cannot set the clock (LocalService holds
    ; SeSystemtimePrivilege otherwise): the Time service does that.
    nsExec::ExecToLog '"$SYSDIR\sc.exe" create ${SERVICE} binPath= "\"$INSTDIR\quorvel-refclock.exe\" --service --port=$Port" start= auto obj= "NT AUTHORITY\LocalService" DisplayName= "Quorvel: hora del dispositivo GPS"'
    Pop $0
    DetailPrint "Servicio ${SERVICE} creado (resultado $0)."
    ; Written directly too: the same values, whichever sc.exe ran.
    WriteRegStr HKLM "${SERVICE_KEY}" "ObjectName" "NT AUTHORITY\LocalService"
    WriteRegStr HKLM "${SERVICE_KEY}" "Description" \
        "Lee el reloj GPS en COM$Port y entrega su hora al servicio de hora de Windows."
    WriteRegMultiStr /REGEDIT5 HKLM "${SERVICE_KEY}" "RequiredPrivileges" \
        53,00,65,00,43,00,68,00,61,00,6e,00,67,00,65,00,4e,00,6f,00,74,00,69,00,66,00,79,00,50,00,72,00,69,00,76,00,69,00,6c,00,65,00,67,00,65,00,00,00,00,00
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "TimeService" 1
    nsExec::ExecToLog '"$SYSDIR\sc.exe" start ${SERVICE}'
    Pop $0
    DetailPrint "Servicio ${SERVICE} iniciado (resultado $0)."

    ; The provider, and the Time service taking its time from it alone.
    WriteRegStr HKLM "${PROVIDER_KEY}" "DllName" "$INSTDIR\QuorvelTimeProvider.dll"
    WriteRegDWORD HKLM "${PROVIDER_KEY}" "Enabled" 1
    WriteRegDWORD HKLM "${PROVIDER_KEY}" "InputProvider" 1
    !insertmacro QUORVEL_KEEP_DWORD "${NTPCLIENT_KEY}" "Enabled" "PrevNtpClientEnabled"
    WriteRegDWORD HKLM "${NTPCLIENT_KEY}" "Enabled" 0
    ; The Time service starts with Windows (on a machine outside a domain it only starts when
    ; triggered). Only where the Time service is installed.
    ClearErrors
    ReadRegDWORD $0 HKLM "${W32TIME}" "Start"
    ${IfNot} ${Errors}
        !insertmacro QUORVEL_KEEP_DWORD "${W32TIME}" "Start" "PrevW32TimeStart"
        WriteRegDWORD HKLM "${W32TIME}" "Start" 2
    ${EndIf}
    !insertmacro QUORVEL_RESTART_TIME_SERVICE
SectionEnd

Section /o "Servir la hora a la red" SecServe
    !insertmacro QUORVEL_KEEP_DWORD "${NTPSERVER_KEY}" "Enabled" "PrevNtpServerEnabled"
    WriteRegDWORD HKLM "${NTPSERVER_KEY}" "Enabled" 1
    !insertmacro QUORVEL_KEEP_DWORD "${W32TIME}\Config" "AnnounceFlags" "PrevAnnounceFlags"
    WriteRegDWORD HKLM "${W32TIME}\Config" "AnnounceFlags" ${ANNOUNCE_RELIABLE}
    !insertmacro QUORVEL_RESTART_TIME_SERVICE
SectionEnd

LangString DESC_SecTime ${LANG_SPANISH} "El servicio quorvel-refclock lee el dispositivo y el servicio de hora de Windows pone en hora el PC con él, en lugar de con Internet."
LangString DESC_SecServe ${LANG_SPANISH} "El servicio de hora de Windows sirve la hora del PC a los demás equipos de la red (NTP, puerto UDP 123)."
!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
    !insertmacro MUI_DESCRIPTION_TEXT ${SecTime} $(DESC_SecTime)
    !insertmacro MUI_DESCRIPTION_TEXT ${SecServe} $(DESC_SecServe)
!insertmacro MUI_FUNCTION_DESCRIPTION_END

; The command line's choices, for silent installs.
Function QuorvelTimeOptions
    ${GetParameters} $R0
    ClearErrors
    ${GetOptions} $R0 "/HORA" $R1
    ${IfNot} ${Errors}
        !insertmacro SelectSection ${SecTime}
    ${EndIf}
    ClearErrors
    ${GetOptions} $R0 "/RED" $R1
    ${IfNot} ${Errors}
        !insertmacro SelectSection ${SecServe}
    ${EndIf}
    StrCpy $Port 1
    ClearErrors
    ${GetOptions} $R0 "/PUERTO=" $R1
    ${IfNot} ${Errors}
    ${AndIf} $R1 >= 1
    ${AndIf} $R1 <= 4
        StrCpy $Port $R1
    ${EndIf}
FunctionEnd

; What the uninstaller undoes, from the uninstall key, before the files go.
!macro QUORVEL_TIME_UNINSTALL
    StrCpy $2 "" ; "1" once a setting of the Time service is put back
    ClearErrors
    ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "PrevNtpServerEnabled"
    ${IfNot} ${Errors}
        StrCpy $2 1
        !insertmacro QUORVEL_RESTORE_DWORD "${NTPSERVER_KEY}" "Enabled" "PrevNtpServerEnabled"
        !insertmacro QUORVEL_RESTORE_DWORD "${W32TIME}\Config" "AnnounceFlags" "PrevAnnounceFlags"
    ${EndIf}
    ClearErrors
    ReadRegDWORD $1 HKLM "${UNINSTALL_KEY}" "TimeService"
    ${IfNot} ${Errors}
        StrCpy $2 1
        nsExec::ExecToLog '"$SYSDIR\sc.exe" stop ${SERVICE}'
        Pop $0
        ; The service manager answers the stop at once; the process ends within a poll.
        Sleep 2000
        nsExec::ExecToLog '"$SYSDIR\sc.exe" delete ${SERVICE}'
        Pop $0
        DetailPrint "Servicio ${SERVICE} eliminado (resultado $0)."
        DeleteRegKey HKLM "${PROVIDER_KEY}"
        !insertmacro QUORVEL_RESTORE_DWORD "${NTPCLIENT_KEY}" "Enabled" "PrevNtpClientEnabled"
        !insertmacro QUORVEL_RESTORE_DWORD "${W32TIME}" "Start" "PrevW32TimeStart"
    ${EndIf}
    ${If} $2 == 1
        ; The Time service lets go of the provider's DLL before the DLL is deleted.
        !insertmacro QUORVEL_RESTART_TIME_SERVICE
    ${EndIf}
    ; Keys that held nothing but these values (where no Time service is installed).
    DeleteRegKey /ifempty HKLM "${NTPCLIENT_KEY}"
    DeleteRegKey /ifempty HKLM "${NTPSERVER_KEY}"
    DeleteRegKey /ifempty HKLM "${W32TIME}\TimeProviders"
    DeleteRegKey /ifempty HKLM "${W32TIME}\Config"
    DeleteRegKey /ifempty HKLM "${W32TIME}"
    Delete /REBOOTOK "$INSTDIR\QuorvelTimeProvider.dll"
    Delete "$INSTDIR\quorvel-refclock.exe"
    ; The service's log and the delay it measured (SetShellVarContext all: $APPDATA is
    ; %ProgramData%).
    Delete "$APPDATA\Quorvel\quorvel-refclock.log"
    Delete "$APPDATA\Quorvel\calibration"
    RMDir "$APPDATA\Quorvel"
!macroend
