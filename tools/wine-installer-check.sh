#!/usr/bin/env bash
# The installer's calls end to end under Wine, checked from the Linux side.
#
#   tools/wine-installer-check.sh [LINUX_BUILD [WINDOWS_BUILD]]   (default build, build-win)
#
# In a fresh Wine prefix (<WINDOWS_BUILD>/installer-check/prefix), a copy of
# maquetor.exe is installed as Maquetor.exe in a program folder whose path
# holds blanks and accents, beside an uninstall log St6unst.log, and started
# with launch.exe exactly as an installer's CreateProcess starts it, the
# whole line unquoted:
#   1. C:\Archivos de programa\Corvanta Peña\Maquetor.exe             (no switch)
#   2. C:\Archivos de programa\Corvanta Peña\Maquetor.exe /Setup
#   3. C:\Archivos de programa\Corvanta Peña\Maquetor.exe /BD:C:\Despachos\Peña y Núñez\Despacho.mdb /M
#      under Xvfb: the window is up while the database is built, then the
#      program ends by itself.
# The Linux build (LINUX_BUILD/maquetor) is run the same way in a program
# folder of its own. Then:
#   - the settings: reg query of AppPrincipal and Avisos gives the nine values,
#     Ruta being the program folder; the Linux INI file the same nine;
#   - the uninstall log, byte for byte: the installer's own lines, then the
#     CreateDir and the two PrivateFile entries, CR LF line ends, in the ANSI
#     code page under Windows (1252: "versión" is the byte F3) and UTF-8 on
#     Linux;
#   - Setup.MDB, DBRPT.MDB and Despacho.mdb, each Windows file against the
#     Linux one through mdbtools and mdb-reader (tools/wine/compare_databases.mjs),
#     table by table and row by row, with the values that must differ named
#     below; the Docs folder beside each Despacho.mdb.
# Prints each check; any difference fails the script with what differed.
# A missing tool or build fails it under CI=true and skips it otherwise.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
linux_build="$(realpath -m "${1:-build}")"
windows_build="$(realpath -m "${2:-build-win}")"

checks=0
fail() {
  printf 'installer check: FAILED: %s\n' "$*" >&2
  exit 1
}
ok() {
  checks=$((checks + 1))
  printf '  ok  %s\n' "$*"
}
missing() {
  if [[ "${CI:-}" == true ]]; then fail "$* (required under CI)"; fi
  printf 'installer check: skipped: %s\n' "$*"
  exit 0
}

loader=/usr/lib/wine/wine64
maquetor_exe="$windows_build/maquetor.exe"
launch_exe="$windows_build/launch.exe"
maquetor="$linux_build/maquetor"
[[ -x "$loader" ]] || missing "Wine's loader $loader (apt-get install wine64)"
for tool in xvfb-run mdb-ver mdb-tables mdb-schema mdb-export node iconv cmp; do
  command -v "$tool" >/dev/null || missing "$tool is not installed (tools/setup.sh)"
done
[[ -d tools/mdbreader/node_modules/mdb-reader ]] || missing "mdb-reader (tools/setup.sh)"
for built in "$maquetor_exe" "$launch_exe" "$maquetor"; do
  [[ -f "$built" ]] || missing "$built is not built (cmake --build $(dirname "$built") --target $(basename "$built" .exe))"
done

# A time zone off UTC, so that a time written in UTC where local time belongs
# shows: one hour east all year, a form that glibc and the Windows C runtime
# read alike (Wine hands TZ to the Windows side, whose C runtime knows no
# names such as Europe/Madrid and would take them for UTC). Wine's locale
# follows LANG: en-US, whose ANSI code page is 1252 as on a Spanish Windows.
export TZ=CET-1 LANG=C.UTF-8
unset LC_ALL
work="$windows_build/installer-check"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
if [[ -d "$WINEPREFIX" ]]; then /usr/lib/wine/wineserver -k 2>/dev/null || true; fi
rm -rf "$work"
mkdir -p "$work"
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT

echo "installer check: a fresh Wine prefix in $WINEPREFIX"
started=$SECONDS
"$loader" wineboot --init >/dev/null 2>&1 || true
# Wine draws the window frames itself: Xvfb has no window manager to wait for.
"$loader" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null
/usr/lib/wine/wineserver -w
[[ -f "$WINEPREFIX/system.reg" ]] || fail "wineboot made no prefix in $WINEPREFIX"
acp="$(sed -n 's/^"ACP"="\([0-9]*\)"/\1/p' "$WINEPREFIX/system.reg" | head -1)"
oemcp="$(sed -n 's/^"OEMCP"="\([0-9]*\)"/\1/p' "$WINEPREFIX/system.reg" | head -1)"
[[ "$acp" == 1252 ]] || fail "the prefix's ANSI code page is '$acp', not 1252"
echo "  prefix ready in $((SECONDS - started))s (ANSI code page $acp, OEM $oemcp)"

drive_c="$WINEPREFIX/drive_c"
app_win='C:\Archivos de programa\Corvanta Peña'
app_dir="$drive_c/Archivos de programa/Corvanta Peña"
office_win='C:\Despachos\Peña y Núñez'
office_dir="$drive_c/Despachos/Peña y Núñez"
mkdir -p "$app_dir" "$office_dir"
cp "$maquetor_exe" "$app_dir/Maquetor.exe"
# What the installer wrote before it ran the program (its own entries, in the
# ANSI code page).
installer_log=$'ACTION: CreateDir: "C:\\Archivos de programa\\Corvanta Pe\xF1a"\r\nACTION: PrivateFile: "C:\\Archivos de programa\\Corvanta Pe\xF1a\\Maquetor.exe"\r\n'
printf '%s' "$installer_log" >"$app_dir/St6unst.log"

now() { date '+%F %T'; }

# Runs LINE (UTF-8) through launch.exe with FOLDER as its working folder.
# With "display" the run gets an Xvfb display of its own, and the launcher
# reports the program's windows: Wine, whose desktop belongs to the display
# it started with, first ends its display-less processes, and its processes
# of this run end before the display does. Output in $work/NAME.out and
# .err; sets run_start, run_end and run_status.
launch() {
  local name="$1" line="$2" folder="$3" display="${4:-}"
  local runner=() watch=()
  if [[ "$display" == display ]]; then
    /usr/lib/wine/wineserver -w
    runner=(xvfb-run -a -s '-screen 0 1024x768x24 -nolisten tcp'
            bash -c '"$@"; status=$?; /usr/lib/wine/wineserver -w; exit $status' on-display)
    watch=(--windows)
  fi
  printf '%s\n%s\n' "$line" "$folder" >"$work/$name.line"
  echo "  run: $line"
  run_start="$(now)"
  set +e
  timeout 600 "${runner[@]}" "$loader" "$launch_exe" "Z:${work//\//\\}\\$name.line" "${watch[@]}" \
    >"$work/$name.out" 2>"$work/$name.err" </dev/null
  run_status=$?
  set -e
  run_end="$(now)"
  echo "       ended with status $run_status"
}

expect_status() {
  local name="$1" want="$2"
  if [[ "$run_status" != "$want" ]]; then
    echo "--- stdout:"; cat "$work/$name.out"; echo "--- stderr:"; cat "$work/$name.err"
    fail "$name ended with status $run_status, expected $want"
  fi
}

echo "installer check: Windows (Wine) runs"
launch bare "$app_win\\Maquetor.exe" 'C:\'
expect_status bare 0
[[ ! -e "$app_dir/Bases" ]] || fail "the run without a switch made $app_dir/Bases"
ok "no switch: status 0, nothing made (the unquoted program name with blanks is not taken for switch text)"

launch setup "$app_win\\Maquetor.exe /Setup" 'C:\'
expect_status setup 0
setup_run=("$run_start" "$run_end")
for f in Bases/Setup.MDB Bases/DBRPT.MDB; do
  [[ -f "$app_dir/$f" ]] || fail "/Setup made no $app_dir/$f"
done
ok "/Setup: status 0, Bases\\Setup.MDB and Bases\\DBRPT.MDB made"

launch create "$app_win\\Maquetor.exe /BD:$office_win\\Despacho.mdb /M" 'C:\' display
expect_status create 0
create_run=("$run_start" "$run_end")
caption='Maquetor de Tablas para Grupo de Despachos de Abogados'
grep -qxF "window: $caption" "$work/create.out" ||
  fail "no window '$caption' was seen while the database was built (launch.exe saw: $(cat "$work/create.out"))"
[[ -f "$office_dir/Despacho.mdb" ]] || fail "/BD: made no $office_dir/Despacho.mdb"
[[ -d "$office_dir/Docs" ]] || fail "no Docs folder beside $office_dir/Despacho.mdb"
ok "/BD: ... /M under Xvfb: the window was up, status 0, Despacho.mdb and Docs made"

echo "installer check: Linux runs"
linux="$work/linux"
app_linux="$linux/Archivos de programa/Corvanta Peña"
office_linux="$linux/Despachos/Peña y Núñez"
mkdir -p "$app_linux" "$office_linux" "$linux/config"
cp "$maquetor" "$app_linux/maquetor"
installer_log_utf8="$(printf '%s' "$installer_log" | iconv -f CP1252 -t UTF-8; echo .)"
installer_log_utf8="${installer_log_utf8%.}"
printf '%s' "$installer_log_utf8" >"$app_linux/St6unst.log"
run_linux() {
  local name="$1"
  shift
  echo "  run: maquetor $*"
  run_start="$(now)"
  set +e
  (cd / && env -u DISPLAY -u WAYLAND_DISPLAY XDG_CONFIG_HOME="$linux/config" \
     "$app_linux/maquetor" "$@" >"$work/$name.out" 2>"$work/$name.err" </dev/null)
  run_status=$?
  set -e
  run_end="$(now)"
}
run_linux linux-bare
expect_status linux-bare 0
run_linux linux-setup /Setup
expect_status linux-setup 0
linux_setup_run=("$run_start" "$run_end")
run_linux linux-create "/BD:$office_linux/Despacho.mdb"
expect_status linux-create 0
linux_create_run=("$run_start" "$run_end")
[[ -d "$office_linux/Docs" ]] || fail "no Docs folder beside $office_linux/Despacho.mdb"
ok "Linux: the same three runs, status 0"

echo "installer check: settings"
# The nine values the office application reads; Ruta is the program folder.
expected_settings() {
  printf '%s\n' "AppPrincipal/Activo=False" "AppPrincipal/Asunto=" "AppPrincipal/Asuntos=False" \
    "AppPrincipal/Guardar=True" "AppPrincipal/Maximizar=False" "AppPrincipal/Ruta=$1" \
    "Avisos/Activo=False" "Avisos/Mostrar=False" "Avisos/Tiempo="
}
key='HKCU\Software\VB and VBA Program Settings\Corvanta'
: >"$work/registry.txt"
for section in AppPrincipal Avisos; do
  # reg prints to a pipe in the OEM code page.
  "$loader" reg query "$key\\$section" >"$work/reg-$section.txt" 2>&1 ||
    fail "reg query $key\\$section: $(cat "$work/reg-$section.txt")"
  iconv -f "CP$oemcp" -t UTF-8 "$work/reg-$section.txt" | tr -d '\r' |
    sed -n "s/^    \([^ ]*\)    REG_SZ    \(.*\)$/$section\/\1=\2/p; s/^    \([^ ]*\)    REG_SZ$/$section\/\1=/p" \
      >>"$work/registry.txt"
done
if ! diff -u <(expected_settings "$app_win") "$work/registry.txt"; then
  fail "the registry under $key differs from the nine values (above: - expected, + read)"
fi
ok "registry: the nine REG_SZ values under $key, Ruta = $app_win"
awk '/^\[/ { section = substr($0, 2, length($0) - 2); next } /=/ { print section "/" $0 }' \
  "$linux/config/Corvanta/Corvanta.ini" >"$work/ini.txt"
if ! diff -u <(expected_settings "$app_linux") "$work/ini.txt"; then
  fail "the Linux settings file differs from the nine values"
fi
ok "Linux settings file: the same nine values, Ruta = its program folder"

echo "installer check: uninstall log"
# The entries as the uninstaller reads them: each preceded by CR LF.
expected_log() {
  local app="$1" sep="$2" version="$3"
  local tail=$'\r\n(No se puede encontrar el archivo o es de una '"$version"' antigua; se ha copiado el archivo nuevo)'
  printf '%s' "$4"
  printf '\r\nACTION: CreateDir: "%s"' "$app${sep}Bases"
  printf '\r\nACTION: PrivateFile: "%s"%s' "$app${sep}BASES${sep}Setup.Mdb" "$tail"
  printf '\r\nACTION: PrivateFile: "%s"%s' "$app${sep}BASES${sep}DBRPT.MDB" "$tail"
}
expected_log "$(printf '%s' "$app_win" | iconv -f UTF-8 -t CP1252)" '\' $'versi\xF3n' "$installer_log" \
  >"$work/St6unst.expected"
if ! cmp -s "$work/St6unst.expected" "$app_dir/St6unst.log"; then
  echo "--- expected:"; od -c "$work/St6unst.expected"; echo "--- written:"; od -c "$app_dir/St6unst.log"
  fail "St6unst.log under Wine is not as expected"
fi
ok "St6unst.log (Windows): the installer's lines, CreateDir Bases, PrivateFile Setup.Mdb and DBRPT.MDB with their second line; code page 1252, CR LF"
expected_log "$app_linux" / 'versión' "$installer_log_utf8" >"$work/St6unst-linux.expected"
if ! cmp -s "$work/St6unst-linux.expected" "$app_linux/St6unst.log"; then
  echo "--- expected:"; od -c "$work/St6unst-linux.expected"; echo "--- written:"; od -c "$app_linux/St6unst.log"
  fail "St6unst.log on Linux is not as expected"
fi
ok "St6unst.log (Linux): the same entries in UTF-8"

echo "installer check: databases, Windows against Linux"
# Differences that must exist, each checked for its exact value on both
# sides before it is masked:
#   TSetup.FSetup01      the demonstration database's path, under each
#                        system's program folder
#   TConfig.FConfig03    the document folder beside each Despacho.mdb
#   MSysObjects.DateCreate, DateUpdate
#                        when each object was made: a local time within
#                        that file's own run
times=(--time MSysObjects.DateCreate --time MSysObjects.DateUpdate)
compare() {
  local name="$1"
  shift
  echo "  $name"
  node tools/wine/compare_databases.mjs --password KTRW_BLM "$@" ||
    fail "$name written under Wine differs from the Linux build's (above)"
  ok "$name: the same under mdbtools and mdb-reader"
}
compare Setup.MDB "${times[@]}" \
  --place TSetup.FSetup01 "$app_win\\BASES\\Demo\\Demo.mdb" "$app_linux/BASES/Demo/Demo.mdb" \
  --windows-run "${setup_run[@]}" --linux-run "${linux_setup_run[@]}" \
  "$app_dir/Bases/Setup.MDB" "$app_linux/Bases/Setup.MDB"
compare DBRPT.MDB "${times[@]}" \
  --windows-run "${setup_run[@]}" --linux-run "${linux_setup_run[@]}" \
  "$app_dir/Bases/DBRPT.MDB" "$app_linux/Bases/DBRPT.MDB"
compare Despacho.mdb "${times[@]}" \
  --place TConfig.FConfig03 "$office_win\\Docs" "$office_linux/Docs" \
  --windows-run "${create_run[@]}" --linux-run "${linux_create_run[@]}" \
  "$office_dir/Despacho.mdb" "$office_linux/Despacho.mdb"

echo "installer check: $checks checks passed in $((SECONDS - started))s"
