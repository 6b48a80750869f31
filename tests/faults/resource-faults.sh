#!/bin/bash
# Backups and restores of the synthetic Outlook Express installation that run
# short of a resource: a full drive, a store file another process holds open,
# an archive cut short after it was accepted, a missing TEMP folder, a
# read-only store file. Each case runs the real plug-in through OEDemo in a
# Wine prefix of its own and checks that nothing is lost or left behind: the
# previous archive byte-identical, the mail store as it was, no temporary or
# staging file, a log line naming the cause, and the export returning 0.
#   tests/faults/resource-faults.sh <case> [build folder]
# Exit 77 (skipped) when the small drive cannot be mounted.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
case="${1:-}"
build="${2:-${VELMORA_BUILD:-$root/build}}"

# The outer call gives the case a prefix of its own and runs it inside the bench.
if [ -z "${VELMORA_RESOURCE_INNER:-}" ]; then
  export WINEPREFIX="$build/wineprefix-resource-$case"
  export VELMORA_RESOURCE_INNER=1
  exec "$root/scripts/winebench.sh" bash "$0" "$case" "$build"
fi

run() { "$root/scripts/wine-run.sh" "$@"; }
demo="$build/bin/OEDemo.exe"
drive_c="$WINEPREFIX/drive_c"
profile="$drive_c/users/$(whoami)"
store="$profile/Local Settings/Application Data/Identities/{C9F3D3A4-18E6-4D2B-9A1B-4F6E2C8D1A10}/Microsoft/Outlook Express"
work="$drive_c/VelmoraResource"
win='C:\VelmoraResource'
mnt="$build/resource-mnt-$case"
mounted=""
holder_pid=""

cleanup() {
  [ -n "$holder_pid" ] && kill "$holder_pid" 2>/dev/null && wait "$holder_pid" 2>/dev/null
  rm -f "$WINEPREFIX/dosdevices/t:"
  if [ -n "$mounted" ]; then umount "$mnt" || umount -l "$mnt"; fi
  rmdir "$mnt" 2>/dev/null
  run "$build/bin/MailFixtureTool.exe" remove >/dev/null 2>&1
}
trap cleanup EXIT
failures=0
check() {   # check <what> <command...>
  local what="$1"; shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
finish() {
  [ "$failures" -eq 0 ] && { echo "RESOURCE FAULT $case PASSED"; exit 0; }
  echo "RESOURCE FAULT $case FAILED ($failures checks)"
  exit 1
}

# A small file system as drive T:.
mount_small_drive() {   # mount_small_drive <size>
  mkdir -p "$mnt"
  if ! mount -t tmpfs -o "size=$1" none "$mnt" 2>/dev/null; then
    echo "cannot mount a small file system here: skipped"
    exit 77
  fi
  mounted=1
  ln -sfn "$mnt" "$WINEPREFIX/dosdevices/t:"
}
# Fills the small drive so that about <kib> KiB stay free.
fill_small_drive() {   # fill_small_drive <kib>
  local free
  free=$(df -k --output=avail "$mnt" | tail -1 | tr -d ' ')
  [ "$free" -gt "$1" ] && head -c $(((free - $1) * 1024)) /dev/zero >"$mnt/filler"
}
# The log written from here on.
log_mark() { log_start=$(stat -c %s "$log" 2>/dev/null || echo 0); }
new_log() { tail -c +$((log_start + 1)) "$log" 2>/dev/null; }
log_names() { new_log | grep -q -E "$1" || { echo "   log:"; new_log | sed 's/^/   | /' | tail -40; false; }; }
nothing_left() {   # nothing_left <unix folder>: no temporary archive or staging folder
  local left
  left=$(find "$1" \( -name 'vl[bh]*.tmp*' -o -name '~vl*' \) 2>/dev/null)
  [ -z "$left" ] || { echo "   left behind: $left"; false; }
}
# A helper process of the same Wine server holds a store file open, share mode 0.
lock_store_file() {   # lock_store_file <name in the main identity's store>
  local winstore="C:\\users\\$(whoami)\\Local Settings\\Application Data\\Identities\\{C9F3D3A4-18E6-4D2B-9A1B-4F6E2C8D1A10}\\Microsoft\\Outlook Express"
  rm -f "$work/locked.flag"
  run "$build/bin/resource-locker.exe" "$winstore\\$1" "$win\\locked.flag" &
  holder_pid=$!
  # A new Wine process can take a while to start on a busy machine.
  for _ in $(seq 600); do
    [ -f "$work/locked.flag" ] && return 0
    if ! kill -0 "$holder_pid" 2>/dev/null; then
      wait "$holder_pid"
      echo "the helper could not hold $1 (it ended with $?)"; holder_pid=""; exit 1
    fi
    sleep 0.1
  done
  echo "the helper could not hold $1 within 60 s"; exit 1
}
release_store_file() { rm -f "$work/locked.flag"; wait "$holder_pid"; holder_pid=""; }
# Wine keeps the read-only attribute as the file's missing write permission.
read_only() { [ $((0$(stat -c %a "$1") & 0222)) -eq 0 ] || { echo "   mode $(stat -c %a "$1")"; false; }; }
writable() { ! read_only "$1" >/dev/null; }
snapshot() { run "$build/bin/MailFixtureTool.exe" snapshot "$win\\$1.txt" >/dev/null; }
store_unchanged() { diff -r "$work/store-copy" "$store" >/dev/null || { diff -r "$work/store-copy" "$store" | head -5; false; }; }
returned_zero() { grep -qF "$1 returned 0" "$work/demo.out" || { cat "$work/demo.out"; false; }; }

"$root/scripts/set-home.sh" "$build" || exit 1
rm -rf "$work" && mkdir -p "$work/Backup"
run "$build/bin/MailFixtureTool.exe" setup >/dev/null || { echo "setup failed"; exit 1; }
# The main identity's store moves to T:\Store (the cases on a small drive).
store_on_small_drive() {
  mkdir -p "$mnt/Store" && cp -a "$store/." "$mnt/Store/" && rm -rf "$store" && store="$mnt/Store"
  run reg add 'HKCU\Identities\{C9F3D3A4-18E6-4D2B-9A1B-4F6E2C8D1A10}\Software\Microsoft\Outlook Express\5.0' \
      /v "Store Root" /t REG_EXPAND_SZ /d 'T:\Store' /f >/dev/null
}
first_backup() {   # the previous archive, in C:\VelmoraResource\Backup
  run "$demo" backup "$win\\Backup" >/dev/null || { echo "first backup failed"; exit 1; }
  archive="$work/Backup/Outlook Express.vlb"
  # New mail since: a restore that replaced Inbox.dbx would lose it.
  cp "$store/Inbox.dbx" "$work/Inbox.backed-up"
  printf 'a message that came after the backup' >>"$store/Inbox.dbx"
  cp -a "$store" "$work/store-copy"
  # The plug-in's log, in the Application Data folder of this prefix's layout.
  log="$(find "$profile" -path '*/Velmora/Wrenfold.log' | head -1)"
}

case "$case" in
  backup-diskfull)
    # A previous archive on a nearly full drive: the new one cannot be written.
    first_backup
    mount_small_drive 8m
    mkdir -p "$mnt/Backup" && cp "$archive" "$mnt/Backup/"
    cp "$archive" "$work/previous.vlb"
    # Mail that does not compress, more than the drive has left, yet not so
    # much that the check before the backup already refuses it: the backup
    # runs into the full drive.
    head -c 3M /dev/urandom >"$store/Archive.dbx"
    fill_small_drive 1024
    log_mark
    run "$demo" backup 'T:\Backup' >"$work/demo.out" 2>&1
    check "Backup returns 0" returned_zero "Backup(T:\\Backup)"
    check "previous archive byte-identical" cmp -s "$work/previous.vlb" "$mnt/Backup/Outlook Express.vlb"
    check "no temporary archive or staging folder left" nothing_left "$mnt"
    check "log names the full drive and the space" log_names "T:.*[0-9]+ (bytes|KB|MB).*free"
    check "log says a store file is missing as the disk is full" log_names "could not be saved, as the disk is full"
    ;;
  restore-diskfull)
    # The store folder on a nearly full drive: the restore cannot write it.
    mount_small_drive 8m
    store_on_small_drive
    first_backup
    fill_small_drive 16
    log_mark
    run "$demo" restore "$win\\Backup\\Outlook Express.vlb" >"$work/demo.out" 2>&1
    check "Restore returns 0" returned_zero "Restore()"
    check "store files unchanged" store_unchanged
    check "no temporary file left" nothing_left "$mnt"
    check "log names the full drive and the space" log_names "T:.*[0-9]+ (bytes|KB|MB).*free"
    ;;
  backup-locked|restore-locked)
    # The mail client holds Inbox.dbx open without sharing.
    first_backup
    cp "$archive" "$work/previous.vlb"
    lock_store_file 'Inbox.dbx'
    log_mark
    if [ "$case" = backup-locked ]; then
      run "$demo" backup "$win\\Backup" >"$work/demo.out" 2>&1
      check "Backup returns 0" returned_zero "Backup($win\\Backup)"
      check "previous archive byte-identical" cmp -s "$work/previous.vlb" "$archive"
    else
      # The file cannot be saved for the undo either: the restore says so in a
      # box before it changes anything, and the box is answered here.
      run "$demo" restore "$win\\Backup\\Outlook Express.vlb" >"$work/demo.out" 2>&1 &
      demo_pid=$!
      box=""
      for _ in $(seq 300); do
        box="$(xdotool search --onlyvisible --class 'oedemo.exe' 2>/dev/null | head -1)"
        [ -n "$box" ] && break
        kill -0 $demo_pid 2>/dev/null || break
        sleep 0.2
      done
      check "the undo box appears" test -n "$box"
      # Answer the box until the driver ends (bounded).
      for _ in $(seq 60); do
        kill -0 $demo_pid 2>/dev/null || break
        for w in $(xdotool search --onlyvisible --class 'oedemo.exe' 2>/dev/null); do
          xdotool windowactivate --sync "$w" >/dev/null 2>&1; xdotool key --window "$w" Return >/dev/null 2>&1
        done
        sleep 0.5
      done
      kill $demo_pid 2>/dev/null; wait $demo_pid
      check "Restore returns 0" returned_zero "Restore()"
    fi
    release_store_file
    check "store files unchanged" store_unchanged
    check "no temporary archive or staging folder left" nothing_left "$work"
    check "no temporary file left in the store" nothing_left "$store"
    check "log names the held file" log_names "Inbox\.dbx"
    ;;
  restore-truncated)
    # The archive is cut short (then damaged in the middle) after InitRestore
    # accepted it: nothing of the installation may change.
    first_backup
    snapshot before
    size=$(stat -c %s "$archive")
    for damage in "truncate -s $((size / 2))" "damage_middle"; do
      cause="Failed to open Zip file .*Outlook Express\.vlb"
      [ "$damage" = damage_middle ] && cause="The entry .* is damaged in the backup file"
      cp "$archive" "$work/intact.vlb"
      rm -f "$work/resume.flag"
      log_mark
      VELMORA_DEMO_RESUME_FILE="$win\\resume.flag" run "$demo" restore "$win\\Backup\\Outlook Express.vlb" \
          >"$work/demo.out" 2>&1 &
      demo_pid=$!
      for _ in $(seq 300); do grep -q "InitRestore.*returned 1" "$work/demo.out" && break; sleep 0.1; done
      check "InitRestore accepts the intact archive ($damage)" grep -q "InitRestore.*returned 1" "$work/demo.out"
      if [ "$damage" = damage_middle ]; then
        # Zeros over the middle third: entries there fail their CRC.
        dd if=/dev/zero of="$archive" bs=1 seek=$((size / 3)) count=$((size / 3)) conv=notrunc status=none
      else
        $damage "$archive"
      fi
      touch "$work/resume.flag"
      wait "$demo_pid"
      check "Restore returns 0 ($damage)" returned_zero "Restore()"
      snapshot after
      check "registry and files unchanged ($damage)" cmp -s "$work/before.txt" "$work/after.txt"
      check "no temporary file or hive left ($damage)" nothing_left "$profile"
      check "no mounted hive left ($damage)" bash -c "! $root/scripts/wine-run.sh reg query 'HKU\\TEMP_HIVE' >/dev/null 2>&1"
      check "log names the damaged archive ($damage)" log_names "$cause"
      cp "$work/intact.vlb" "$archive"
    done
    ;;
  missing-temp)
    # TEMP and TMP name a folder that does not exist.
    first_backup
    cp "$archive" "$work/previous.vlb"
    run reg add 'HKCU\Environment' /v TEMP /d 'C:\NoSuchTemp' /f >/dev/null
    run reg add 'HKCU\Environment' /v TMP /d 'C:\NoSuchTemp' /f >/dev/null
    snapshot before
    log_mark
    run "$demo" backup "$win\\Backup" >"$work/demo.out" 2>&1
    backed_up=$?
    if [ $backed_up -eq 0 ]; then
      check "the new archive is whole" unzip -tq "$archive"
    else
      check "a failed backup keeps the previous archive" cmp -s "$work/previous.vlb" "$archive"
      check "a failed backup says why" log_names "GetTempPath|NoSuchTemp|temporary folder"
    fi
    check "no temporary archive or staging folder left" nothing_left "$work"
    log_mark
    run "$demo" restore "$win\\Backup\\Outlook Express.vlb" >"$work/demo.out" 2>&1
    restored=$?
    snapshot after
    check "registry and files as before" cmp -s "$work/before.txt" "$work/after.txt"
    [ $restored -ne 0 ] && check "a failed restore says why" log_names "GetTempPath|NoSuchTemp|temporary folder"
    check "no temporary file or hive left" nothing_left "$profile"
    check "no folder made for TEMP" test ! -e "$drive_c/NoSuchTemp"
    echo "   backup exit $backed_up, restore exit $restored"
    ;;
  restore-readonly)
    # A read-only store file, read-only in the archive too, with new mail
    # since: it is replaced, and left an ordinary file the mail client can
    # write to again.
    run attrib +r "$(printf 'C:\\users\\%s\\Local Settings\\Application Data\\Identities\\{C9F3D3A4-18E6-4D2B-9A1B-4F6E2C8D1A10}\\Microsoft\\Outlook Express\\Inbox.dbx' "$(whoami)")" >/dev/null
    first_backup
    check "the store file is read-only" read_only "$store/Inbox.dbx"
    log_mark
    run "$demo" restore "$win\\Backup\\Outlook Express.vlb" >"$work/demo.out" 2>&1
    check "Restore succeeds" grep -qF "Restore() returned 1" "$work/demo.out"
    check "the read-only file is replaced by its backed-up copy" cmp -s "$work/Inbox.backed-up" "$store/Inbox.dbx"
    check "and is writable again" writable "$store/Inbox.dbx"
    check "no temporary file left in the store" nothing_left "$store"
    ;;
  backup-toosmall)
    # A target drive far smaller than the mail: with less than a tenth of what
    # the chosen items hold free, the backup does not begin; with more, it
    # warns and goes on, as mail compresses. Sparse files: the sizes count.
    first_backup
    mount_small_drive 8m
    mkdir -p "$mnt/Backup" && cp "$archive" "$mnt/Backup/"
    cp "$archive" "$work/previous.vlb"
    truncate -s 120M "$store/Large.dbx"
    log_mark
    run "$demo" backup 'T:\Backup' >"$work/demo.out" 2>&1
    check "Backup returns 0" returned_zero "Backup(T:\Backup)"
    check "previous archive byte-identical" cmp -s "$work/previous.vlb" "$mnt/Backup/Outlook Express.vlb"
    check "nothing written to the drive" nothing_left "$mnt"
    check "log names the drive, the size of the items and the space free" \
      log_names "T: cannot hold the backup: the chosen items hold 1[23][0-9] MB, [0-9]+ (KB|MB) free on T:"
    truncate -s 20M "$store/Large.dbx"
    log_mark
    run "$demo" backup 'T:\Backup' >"$work/demo.out" 2>&1
    check "the backup of compressible mail goes on" grep -qF 'Backup(T:\Backup) returned 1' "$work/demo.out"
    check "log warns, naming the drive, the space needed at most and the space free" \
      log_names "T: may be too small for the backup: it needs up to 2[0-9] MB, [0-9]+ (KB|MB) free on T:"
    check "the new archive holds the large file" bash -c "unzip -l \"\$1\" | grep -q Large.dbx" _ "$mnt/Backup/Outlook Express.vlb"
    check "no temporary archive or staging folder left" nothing_left "$mnt"
    rm -f "$store/Large.dbx"
    ;;
  *) echo "unknown case $case"; exit 2 ;;
esac
finish
