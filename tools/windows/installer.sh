#!/usr/bin/env bash
# Makes the Windows installer with NSIS and tests it under wine.
#   tools/windows/installer.sh BUILD QT SETUP
# BUILD: the cross-build folder (holds Quorvel2.exe, quorvel-refclock.exe and
# QuorvelTimeProvider.dll); QT: the Qt for MinGW; SETUP: the installer to write.
# The installer holds the program, the Qt DLLs and plugins it needs, Qt's Spanish translation,
# the MinGW runtime DLLs, a Start-menu entry with the program's icon, and an uninstaller; and
# two optional components (windows-time.nsh): the service quorvel-refclock with the Time
# service's provider, and the Time service's NTP server.
# The test needs WINEPREFIX (a prefix made by tools/windows/test.sh, with wine's headless
# display driver): it installs silently, starts the installed program on the real Windows
# platform plugin, asks it to close as Windows does (WM_CLOSE, through taskkill), checks that
# it ended with status 0, uninstalls silently and checks that nothing is left. The install
# takes both optional components (/HORA /RED): it checks the service, the Time service's
# registry and the service's log, and after the uninstall that every value is as before.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$1
qt=$2
setup=$3
work=$(dirname "$setup")/installer
stage=$work/stage
wine=$here/wine.sh

# Where the DLLs that Quorvel2.exe and the plugins import come from.
dll_folders=("$qt/bin" /usr/lib/gcc/x86_64-w64-mingw32/12-posix /usr/x86_64-w64-mingw32/lib)

find_dll() {
    local folder found
    for folder in "${dll_folders[@]}"; do
        found=$(find "$folder" -maxdepth 1 -iname "$1" -print -quit 2>/dev/null)
        if [ -n "$found" ]; then
            echo "$found"
            return
        fi
    done
}

echo "-- staging"
rm -rf "$stage" "$work/service"
mkdir -p "$stage/platforms" "$stage/styles" "$work/service"
cp "$build/Quorvel2.exe" "$stage/"
# Qt's own texts in Spanish, beside the program, where it looks for them. The Qt for MinGW has
# no translations; a .qm file is the same on every system, so Debian's serves
# (qt6-translations-l10n).
cp /usr/share/qt6/translations/qtbase_es.qm "$stage/"
# The optional component's files, apart: its section installs them (windows-time.nsh).
cp "$build/quorvel-refclock.exe" "$build/QuorvelTimeProvider.dll" "$work/service/"
# The platform plugin for Windows and the native look; PNG pictures and the .ico are read by
# QtGui itself and need no image plugin.
cp "$qt/plugins/platforms/qwindows.dll" "$stage/platforms/"
cp "$qt/plugins/styles/qwindowsvistastyle.dll" "$stage/styles/"

# Every DLL imported, directly or not, that is not part of Windows itself.
# quorvel-refclock.exe's DLLs (QtCore, QtSerialPort, the runtime) are installed with the program's.
queue=("$stage/Quorvel2.exe" "$stage/platforms/qwindows.dll" "$stage/styles/qwindowsvistastyle.dll"
    "$work/service/quorvel-refclock.exe")
while [ ${#queue[@]} -gt 0 ]; do
    file=${queue[0]}
    queue=("${queue[@]:1}")
    while read -r name; do
        [ -e "$stage/$name" ] && continue
        dll=$(find_dll "$name")
        [ -z "$dll" ] && continue # a system DLL
        cp "$dll" "$stage/$name"
        queue+=("$stage/$name")
    done < <(x86_64-w64-mingw32-objdump -p "$file" | sed -n 's/^[[:space:]]*DLL Name: //p')
done
# Without their symbols, which only a debugger wants: the MinGW runtime alone carries 23 MB.
find "$stage" "$work/service" -type f \( -name '*.dll' -o -name '*.exe' \) -exec x86_64-w64-mingw32-strip --strip-unneeded {} +
(cd "$stage" && find . -type f | sort | sed 's|^\./||')
du -sh "$stage"

# The install and remove macros, file by file.
files=$work/files.nsh
{
    echo '!macro QUORVEL_INSTALL_FILES'
    for folder in "" platforms styles; do
        echo "    SetOutPath \"\$INSTDIR${folder:+\\$folder}\""
        for file in "$stage/${folder:+$folder/}"*.*; do
            [ -f "$file" ] && echo "    File \"$file\""
        done
    done
    echo '    SetOutPath "$INSTDIR"'
    echo '!macroend'
    echo '!macro QUORVEL_REMOVE_FILES'
    (cd "$stage" && find . -type f | sort | sed 's|^\./||') | while read -r file; do
        echo "    Delete \"\$INSTDIR\\${file//\//\\}\""
    done
    echo '    RMDir "$INSTDIR\platforms"'
    echo '    RMDir "$INSTDIR\styles"'
    echo '!macroend'
} >"$files"

echo "-- makensis"
makensis -V2 -NOCD -DSTAGE="$stage" -DFILES="$files" -DICON="$root/resources/quorvel.ico" \
    -DVERSION="$("$here/version.sh" "$build")" -DSERVICE_STAGE="$work/service" -DOUTFILE="$setup" \
    "$here/installer.nsi"
ls -l "$setup"

echo "-- installing under wine (silent)"
installed="$WINEPREFIX/drive_c/Program Files/Quorvel2"
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Quorvel2.lnk"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvel2'
# The program must run from what the installer put there alone.
unset WINEPATH
w32time='HKLM\SYSTEM\CurrentControlSet\Services\W32Time'
service_key='HKLM\SYSTEM\CurrentControlSet\Services\quorvel-refclock'
log="$WINEPREFIX/drive_c/ProgramData/Quorvel/quorvel-refclock.log"
# One registry value's data ("0x1", a text), or nothing when it is absent.
regval() {
    "$wine" reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
        awk -v name="$2" '$1 == name && $2 ~ /^REG_/ { $1 = ""; $2 = ""; sub(/^ +/, ""); print }'
}
# Two of the Time service's values as a Windows machine has them, to be kept and put back; the
# NTP server's Enabled is left absent, to be removed again.
"$wine" reg add "$w32time\TimeProviders\NtpClient" /v Enabled /t REG_DWORD /d 1 /f >/dev/null 2>&1
"$wine" reg add "$w32time\Config" /v AnnounceFlags /t REG_DWORD /d 10 /f >/dev/null 2>&1
"$wine" "$setup" /S /HORA /RED
"$wine" --server -w
passed=0
failures=0
pass() {
    echo "PASS: $*"
    passed=$((passed + 1))
}
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
(cd "$stage" && find . -type f) | while read -r file; do
    cmp -s "$stage/$file" "$installed/$file" || echo "$file"
done >"$work/missing.txt"
if [ -s "$work/missing.txt" ]; then
    fail "not installed as built: $(tr '\n' ' ' <"$work/missing.txt")"
else
    pass "every file installed as built"
fi
if [ -f "$installed/Desinstalar.exe" ]; then pass "uninstaller"; else fail "no uninstaller"; fi
if [ -f "$shortcut" ]; then pass "Start-menu entry"; else fail "no Start-menu entry"; fi
if "$wine" reg query "$key" >/dev/null 2>&1; then
    pass "entry in the list of installed programs"
else
    fail "no entry in the list of installed programs"
fi

echo "-- the optional components: the service and the Time service"
expect() { # expect WHAT ACTUAL WANTED
    if [ "$2" = "$3" ]; then pass "$1: $2"; else fail "$1: \"$2\", not \"$3\""; fi
}
for file in quorvel-refclock.exe QuorvelTimeProvider.dll; do
    if cmp -s "$work/service/$file" "$installed/$file"; then
        pass "$file installed as built"
    else
        fail "$file not installed as built"
    fi
done
provider="$w32time\TimeProviders\QuorvelTimeProvider"
expect "provider DllName" "$(regval "$provider" DllName)" 'C:\Program Files\Quorvel2\QuorvelTimeProvider.dll'
expect "provider Enabled" "$(regval "$provider" Enabled)" 0x1
expect "provider InputProvider" "$(regval "$provider" InputProvider)" 0x1
expect "NTP client off" "$(regval "$w32time\TimeProviders\NtpClient" Enabled)" 0x0
expect "NTP server on" "$(regval "$w32time\TimeProviders\NtpServer" Enabled)" 0x1
expect "announced as a reliable time server" "$(regval "$w32time\Config" AnnounceFlags)" 0x5
expect "service account" "$(regval "$service_key" ObjectName)" 'NT AUTHORITY\LocalService'
expect "service command" "$(regval "$service_key" ImagePath)" \
    '"C:\Program Files\Quorvel2\quorvel-refclock.exe" --service --port=1'
expect "service starts with Windows" "$(regval "$service_key" Start)" 0x2
expect "service privileges" "$(regval "$service_key" RequiredPrivileges)" SeChangeNotifyPrivilege
# The service runs: it started, wrote its log and looks for the device on COM1, which the
# prefix maps to nothing.
for _ in $(seq 1 50); do
    grep -q "Dispositivo no disponible en puerto 1" "$log" 2>/dev/null && break
    sleep 0.2
done
if "$wine" sc query quorvel-refclock 2>/dev/null | grep -q RUNNING; then
    pass "the service quorvel-refclock runs"
else
    fail "the service quorvel-refclock does not run: $("$wine" sc query quorvel-refclock 2>&1 | tr -d '\r' | tr '\n' ' ')"
fi
if grep -q "Servicio quorvel-refclock iniciado (puerto 1)." "$log" 2>/dev/null &&
    grep -q "Dispositivo no disponible en puerto 1" "$log"; then
    pass "the service's log: $(tr -d '\r' <"$log" | tr '\n' '|')"
else
    fail "the service's log $log: $(cat "$log" 2>&1 | tr '\n' '|')"
fi

# --status asks the running service over its state pipe, as a user would.
status_text=$("$wine" 'C:\Program Files\Quorvel2\quorvel-refclock.exe' --status 2>&1 | tr -d '\r')
if printf '%s\n' "$status_text" | grep -q '^Dispositivo: COM1, no disponible' &&
    printf '%s\n' "$status_text" | grep -q '^Retraso: sin calibrar'; then
    pass "--status: $(printf '%s' "$status_text" | tr '\n' '|')"
else
    fail "--status: $(printf '%s' "$status_text" | tr '\n' '|')"
fi

echo "-- starting the installed Quorvel2.exe"
# Wine's headless display driver (set in the prefix) gives the program real windows, so that
# it can be asked to close as on Windows: taskkill without /F sends WM_CLOSE to each of its
# top-level windows. Without a COM1 in the prefix the program starts with the modal message
# "Puerto no disponible", which the first WM_CLOSE closes; the window closes at the next.
# dpiawareness=1: wine 8 refuses the per-monitor awareness Qt asks for first, and Qt then
# fails to create windows.
WINEQT_QPA_PLATFORM=windows:dpiawareness=1 "$wine" 'C:\Program Files\Quorvel2\Quorvel2.exe' \
    >"$work/program.log" 2>&1 &
program=$!
sleep 4
if kill -0 "$program" 2>/dev/null; then
    pass "the installed program runs after 4 s"
    asks=0
    while kill -0 "$program" 2>/dev/null && [ "$asks" -lt 5 ]; do
        "$wine" taskkill /IM Quorvel2.exe >/dev/null 2>&1 || true
        asks=$((asks + 1))
        for _ in 1 2 3 4 5 6 7 8 9 10; do
            kill -0 "$program" 2>/dev/null || break
            sleep 0.2
        done
    done
    if kill -0 "$program" 2>/dev/null; then
        fail "Quorvel2.exe did not close when asked $asks times"
        kill "$program"
        wait "$program" || true
    else
        code=0
        wait "$program" || code=$?
        if [ "$code" -eq 0 ]; then
            pass "closed when asked ($asks WM_CLOSE rounds), exit status 0"
        else
            fail "Quorvel2.exe ended with status $code after $asks WM_CLOSE rounds"
        fi
    fi
else
    code=0
    wait "$program" || code=$?
    fail "Quorvel2.exe ended by itself within 4 s (status $code): $(head -c 2000 "$work/program.log")"
fi
"$wine" --server -w

echo "-- uninstalling under wine (silent)"
# The uninstaller copies itself to a temporary folder and runs from there; wineserver -w
# waits for that copy to end too.
"$wine" 'C:\Program Files\Quorvel2\Desinstalar.exe' /S
"$wine" --server -w
if [ -e "$installed" ]; then
    fail "left in the install folder: $(cd "$installed" && find . | tr '\n' ' ')"
else
    pass "the install folder is gone"
fi
if [ -e "$shortcut" ]; then fail "the Start-menu entry is left"; else pass "Start-menu entry removed"; fi
if "$wine" reg query "$key" >/dev/null 2>&1; then
    fail "the entry in the list of installed programs is left"
else
    pass "entry in the list of installed programs removed"
fi

expect "service removed" "$(regval "$service_key" ImagePath)" ""
if "$wine" sc query quorvel-refclock 2>/dev/null | grep -q RUNNING; then
    fail "the service quorvel-refclock still runs"
else
    pass "the service quorvel-refclock does not run"
fi
if "$wine" reg query "$provider" >/dev/null 2>&1; then
    fail "the provider's key is left"
else
    pass "the provider's key removed"
fi
expect "NTP client as before" "$(regval "$w32time\TimeProviders\NtpClient" Enabled)" 0x1
expect "NTP server as before (absent)" "$(regval "$w32time\TimeProviders\NtpServer" Enabled)" ""
expect "AnnounceFlags as before" "$(regval "$w32time\Config" AnnounceFlags)" 0xa
if [ -e "$log" ]; then fail "the service's log is left"; else pass "the service's log removed"; fi

echo "Installer: $passed passed, $failures failed"
[ "$failures" -eq 0 ]
