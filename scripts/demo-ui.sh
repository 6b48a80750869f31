#!/bin/bash
# The demo's tour of the real program under the bench's virtual display, run
# by scripts/demo.sh: one backup and one restore of an Outlook Express
# identity through the Backup and Restore pages, photographed, in English and
# in Korean. Controls are found with WindowProbe.exe and clicked with xdotool,
# so what is clicked is what a user would click. Every step has a time limit;
# a step that does not happen fails the demo with its reason.
#   scripts/demo-ui.sh <program path (Windows)> <build folder>
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
program="$1"
build="$2"
run() { "$root/scripts/wine-run.sh" "$@"; }
probe() { run "$build/bin/WindowProbe.exe" "$@" 2>/dev/null | tr -d '\r'; }

shots="$build/demo-shots"
rm -rf "$shots" && mkdir -p "$shots"
profile="$WINEPREFIX/drive_c/users/$(whoami)"
# The synthetic installation's "Main Identity" (tests/support/MailFixture.cpp).
main_identity_store="$profile/Local Settings/Application Data/Identities/{C9F3D3A4-18E6-4D2B-9A1B-4F6E2C8D1A10}/Microsoft/Outlook Express"

pid=""
lang=""
stop_program() {
  [ -n "$pid" ] || return 0
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  pid=""
}
fail() {
  echo "DEMO FAILED: $* (${lang:-English} run)"
  import -window root "$shots/failure$lang.png" 2>/dev/null &&
    echo "   the screen at that moment: $shots/failure$lang.png"
  stop_program
  run "$build/bin/MailFixtureTool.exe" remove >/dev/null 2>&1
  exit 1
}

# Visible top-level windows of the program whose caption matches the pattern.
windows_named() {
  local window
  for window in $(xdotool search --onlyvisible --class 'velmora.exe' 2>/dev/null); do
    [[ "$(xdotool getwindowname "$window" 2>/dev/null)" =~ $1 ]] && echo "$window"
  done
  return 0
}
wait_for() {   # wait_for <seconds> <command...>: until the command prints something
  local limit=$(( $1 * 10 )) out; shift
  for _ in $(seq "$limit"); do
    out="$("$@")"; [ -n "$out" ] && { echo "$out"; return 0; }
    sleep 0.1
  done
  return 1
}
wait_window() {   # wait_window <seconds> <caption pattern> <what>
  wait_for "$1" windows_named "$2" >/dev/null || fail "$3 did not appear within $1 s"
}
wait_gone() {   # wait_gone <seconds> <caption pattern> <what>
  for _ in $(seq $(( $1 * 10 ))); do [ -z "$(windows_named "$2")" ] && return 0; sleep 0.1; done
  fail "$3 did not close within $1 s"
}

click() { xdotool mousemove "$1" "$2" click 1; sleep 0.4; }
# Clicks the middle of a control: click_control <dialog caption or -> <id> <what>
click_control() {
  local left top right bottom
  read -r left top right bottom <<<"$(probe "$1" "$2")"
  [ -n "${bottom:-}" ] || fail "$3 was not found"
  click $(( (left + right) / 2 )) $(( (top + bottom) / 2 ))
}
# The screen point of a tree item or list row: point <caption> <id> tree|labels|rows <text>
point() { probe "$1" "$2" "$3" | awk -v text="$4" '{ x = $1; y = $2; $1 = $2 = $3 = ""; sub(/^ +/, ""); if ($0 == text) { print x, y; exit } }'; }
ticked() { probe "$1" "$2" "$3" | awk -v text="$4" '{ t = $3; $1 = $2 = $3 = ""; sub(/^ +/, ""); if ($0 == text) { print t; exit } }'; }

shot() {   # shot <name> <what it shows> <caption pattern of the window it must show>
  [ -n "$(windows_named "$3")" ] || fail "no window for the screenshot of $2"
  import -window root "$shots/$1.png" || fail "the screenshot of $2 could not be saved"
  local mean
  mean="$(convert "$shots/$1.png" -format '%[fx:mean]' info: 2>/dev/null)"
  awk -v m="${mean:-0}" 'BEGIN { exit !(m > 0.005) }' || fail "the screenshot of $2 is blank"
  printf '   %-32s %s\n' "$1.png" "$2"
}

main='^Velmora$'
progress='^Please Wait\.\.$'
report='^(Backup completed successfully|백업을 완료했습니다)$'
warning='^For successful restore'
restored='^(Restore completed|복원 완료)$'
error='^(Error|오류)$'

tour() {   # tour <language suffix> <description> <locale for the program>
  lang="$1"
  local what="$2" locale="$3" x y
  echo "== Velmora in $what, on the virtual display $DISPLAY"
  # The synthetic installation, with a larger message store for the Main
  # Identity, so that the progress dialog stays up long enough to be seen.
  run "$build/bin/MailFixtureTool.exe" setup >/dev/null || fail "the synthetic installation could not be set up"
  [ -d "$main_identity_store" ] || fail "the Main Identity's store is not at $main_identity_store"
  head -c 45000000 /dev/urandom | base64 >"$main_identity_store/Archive 2004.dbx"
  local digest
  digest="$(md5sum <"$main_identity_store/Archive 2004.dbx")"
  rm -f "$backups"/*.vlb

  env ${locale:+LC_ALL=$locale} "$root/scripts/wine-run.sh" "$program" >/dev/null 2>&1 &
  pid=$!
  # The splash screen is the program's first window, and the one without a caption.
  wait_for 20 windows_named '^$' >/dev/null || fail "the splash screen did not appear"
  sleep 0.2
  [ -z "$(windows_named "$main")" ] || fail "the main window opened before the splash screen was seen"
  shot "splash$lang" "the splash screen ($what)" '^$'
  wait_window 30 "$main" "the main window"
  wait_for 10 probe Velmora 1015 tree >/dev/null || fail "the Backup page's application tree is empty"

  # Backup page: tick Outlook Express in the check-box column, then keep one
  # identity: clear the other two and tick Main Identity again.
  read -r x y <<<"$(point Velmora 1015 tree 'Outlook Express')"
  [ -n "${y:-}" ] || fail "\"Outlook Express\" is not in the application tree"
  click "$x" "$y"
  [ "$(ticked Velmora 1015 tree 'Outlook Express')" = 1 ] || fail "\"Outlook Express\" was not ticked"
  wait_for 5 probe Velmora 1013 rows >/dev/null || fail "no identity is listed for Outlook Express"
  for name in 'Main Identity' 'Alice Martin' 'Bob Okafor'; do
    if [ "$(ticked Velmora 1013 rows "$name")" = 1 ]; then
      read -r x y <<<"$(point Velmora 1013 rows "$name")"; click "$x" "$y"
    fi
  done
  read -r x y <<<"$(point Velmora 1013 rows 'Main Identity')"
  [ -n "${y:-}" ] || fail "\"Main Identity\" is not in the profiles list"
  click "$x" "$y"
  [ "$(ticked Velmora 1013 rows 'Main Identity')" = 1 ] || fail "\"Main Identity\" was not ticked"
  [ "$(ticked Velmora 1013 rows 'Alice Martin')" = 0 ] || fail "\"Alice Martin\" was not cleared"

  # The folder browser: pick "Velmora Backups" on the desktop.
  click_control Velmora 1018 "the \"...\" button of the Backup page"
  wait_for 10 probe - 14145 labels >/dev/null || fail "the folder browser did not open"
  read -r x y <<<"$(point - 14145 labels 'Velmora Backups')"
  [ -n "${y:-}" ] || fail "the folder browser does not show \"Velmora Backups\""
  click "$x" "$y"
  click_control - 1 "the folder browser's OK button"
  [ "$(probe Velmora 1016 text)" = "$backups_win" ] || fail "the backup folder was not chosen (edit shows \"$(probe Velmora 1016 text)\")"
  shot "backup-page$lang" "the Backup page: Outlook Express and Main Identity ticked, folder chosen ($what)" "$main"

  click_control Velmora 1017 "the Run Backup button"
  wait_window 20 "$progress" "the progress dialog"
  sleep 0.3
  shot "backup-progress$lang" "the plug-in's progress dialog during the backup ($what)" "$progress"
  wait_for 120 windows_named "$report|$error" >/dev/null || fail "the backup did not end within 120 s"
  [ -n "$(windows_named "$report")" ] || fail "the backup failed (the error box is shown)"
  sleep 0.3
  case "$(probe - 65535 text)" in
    *"-------------------- Outlook Express --------------------"*) ;;
    *) fail "the backup report has no Outlook Express block" ;;
  esac
  shot "backup-report$lang" "the backup report ($what)" "$report"
  click_control - 1 "the report's OK button"
  wait_gone 10 "$report" "the backup report"
  [ -f "$backups/Outlook Express.vlb" ] || fail "no \"Outlook Express.vlb\" in $backups"

  # What the archive holds is removed, then restored through the Restore page.
  run "$build/bin/MailFixtureTool.exe" remove-identities >/dev/null || fail "the identities could not be removed"
  local tab_left tab_top rest
  read -r tab_left tab_top rest <<<"$(probe Velmora 1003)"
  [ -n "${rest:-}" ] || fail "the tab control was not found"
  # The Restore tab sits right of the Backup tab at the top of the tab control.
  click $(( tab_left + 80 )) $(( tab_top + 10 ))
  wait_for 5 probe Velmora 1012 >/dev/null || fail "the Restore page did not show"
  click_control Velmora 1022 "the \"...\" button of the Restore page"
  wait_window 10 "$warning" "the restore warning"
  click_control - 1 "the restore warning's OK button"
  wait_gone 10 "$warning" "the restore warning"
  wait_for 10 windows_named "^(Open|열기)$" >/dev/null || fail "the file dialog did not open"
  sleep 0.5
  xdotool type --delay 20 "$backups_win\\Outlook Express.vlb"
  xdotool key Return
  wait_gone 10 "^(Open|열기)$" "the file dialog"
  wait_for 10 probe Velmora 1020 rows >/dev/null || fail "the archive's profiles were not listed"
  [ "$(ticked Velmora 1019 tree 'Outlook Express')" = 1 ] || fail "\"Outlook Express\" was not added ticked"
  shot "restore-page$lang" "the Restore page with \"Outlook Express.vlb\" loaded ($what)" "$main"

  click_control Velmora 1012 "the Run Restore button"
  wait_for 120 windows_named "$restored|$error" >/dev/null || fail "the restore did not end within 120 s"
  [ -n "$(windows_named "$restored")" ] || fail "the restore failed (the error box is shown)"
  sleep 0.3
  shot "restore-result$lang" "the restore's result message ($what)" "$restored"
  [ "$(md5sum <"$main_identity_store/Archive 2004.dbx" 2>/dev/null)" = "$digest" ] ||
    fail "the restored message store differs from the one backed up"
  click_control - 1 "the result's OK button"
  wait_gone 10 "$restored" "the restore's result message"

  # The restore kept what it replaced and noted what it created: Undo Last
  # Restore takes it back, and the identities restored over nothing go again.
  sleep 0.3
  shot "restore-undo$lang" "the Restore page with \"Undo Last Restore\" after the restore ($what)" "$main"
  click_control Velmora 1027 "the Undo Last Restore button"
  wait_for 120 windows_named "$restored|$error" >/dev/null || fail "the undo did not end within 120 s"
  [ -n "$(windows_named "$restored")" ] || fail "the undo failed (the error box is shown)"
  [ -e "$main_identity_store/Archive 2004.dbx" ] && fail "the undo left the restored message store in place"
  click_control - 1 "the result's OK button"
  wait_gone 10 "$restored" "the undo's result message"

  click_control Velmora 1 "the Close button"
  for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$pid" 2>/dev/null && fail "Velmora did not end after Close"
  wait "$pid" 2>/dev/null
  pid=""
  run "$build/bin/MailFixtureTool.exe" remove >/dev/null
}

# The desktop folder of a new prefix links to the Linux home folder: the demo
# keeps its backups inside its own prefix instead.
[ -L "$profile/Desktop" ] && rm "$profile/Desktop"
backups="$profile/Desktop/Velmora Backups"
backups_win="C:\\users\\$(whoami)\\Desktop\\Velmora Backups"
mkdir -p "$backups"

# No window manager runs here: Wine draws the captions and frames itself.
run reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null
run reg delete 'HKCU\Software\Orridge\Velmora' /v "Restore Warning Off" /f >/dev/null 2>&1
run reg delete 'HKCU\Software\Orridge\Velmora' /v "UI Language" /f >/dev/null 2>&1
echo "== Screenshots, in $shots:"
tour "" "English" ""
run reg add 'HKCU\Software\Orridge\Velmora' /v "UI Language" /d KOR /f >/dev/null
tour "-kor" "Korean, \"UI Language\" = KOR" ko_KR.UTF-8
run reg delete 'HKCU\Software\Orridge\Velmora' /v "UI Language" /f >/dev/null 2>&1
run reg delete 'HKCU\Software\Wine\X11 Driver' /v Decorated /f >/dev/null 2>&1
exit 0
