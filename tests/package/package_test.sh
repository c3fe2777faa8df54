#!/usr/bin/env bash
# Builds the Debian package into a scratch folder, checks its control fields, its files and
# lintian's verdict, then unpacks it into a scratch root and runs the unpacked program on the
# unpacked demo scene, from the demo's folder, on an X server of its own:
#
#   package_test.sh <source folder> <scratch folder> <version>
set -euo pipefail
source_dir=$1 scratch=$2 version=$3
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

deb=$("$source_dir/scripts/package" "$scratch" | tail -n 1)
arch=$(dpkg --print-architecture)
[ "$deb" = "$scratch/kestrune_${version}_${arch}.deb" ] || fail "the package is '$deb'"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = kestrune ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
for name in Maintainer Description Section; do
  [ -n "$(field "$name")" ] || fail "no $name field"
done

# Exactly the program, its manual page, its documents and the whole demo folder, under /usr.
listed=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $NF }' | sort)
expected=$({
  printf '%s\n' ./usr/bin/kestrune ./usr/share/man/man6/kestrune.6.gz
  printf './usr/share/doc/kestrune/%s\n' README.md copyright changelog.gz
  (cd "$source_dir/demo" && find . -type f | sed 's|^\./|./usr/share/kestrune/demo/|')
} | sort)
[ "$listed" = "$expected" ] || fail "the files differ from the expected ones:
$(diff <(echo "$expected") <(echo "$listed") || true)"

root=$scratch/root
rm -rf "$root"
dpkg-deb -x "$deb" "$root"
program=$root/usr/bin/kestrune

# Every library the program names, linked or opened at run time by name or by path, must come
# from a package that Depends names.
depends=$(field Depends | tr ',|' '\n\n' | sed 's/(.*//; s/[[:space:]]//g')
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
libraries=$(strings -a "$program" | grep -E '^(/[^ ]*/)?lib[A-Za-z0-9_+.-]*\.so(\.[0-9]+)*$' |
  sort -u)
[ -n "$libraries" ] || fail "the program names no library"
for library in $libraries; do
  # (A few libraries, the line breaker's among them, are installed outside the multiarch folder.)
  owner=$( (dpkg-query -S "*/$multiarch/$(basename "$library")" ||
    dpkg-query -S "/usr/lib/$(basename "$library")") 2>/dev/null | head -n 1 |
    sed 's/: .*//; s/:[a-z0-9]*//g; s/,.*//') || true
  [ -n "$owner" ] || fail "no installed package holds $library"
  grep -Fxq "$owner" <<<"$depends" || fail "Depends does not name $owner, which holds $library"
done

report=$(lintian --fail-on error,warning "$deb" 2>&1) || fail "lintian: $report"

# The pointer is driven, so the program gets an X server that nothing else uses.
unset DISPLAY
. "$source_dir/scripts/xvfb-lib.sh"
start_xvfb_if_needed >/dev/null
pid=""
trap 'if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; fi; kill "$XVFB_PID" 2>/dev/null || true' EXIT

cd "$root/usr/share/kestrune/demo"
"$program" 2>"$scratch/stderr.txt" &
pid=$!
window=$(timeout 10 xdotool search --sync --pid "$pid" --classname kestrune | head -n 1) ||
  fail "no window appeared: $(cat "$scratch/stderr.txt")"

caption() { xdotool getwindowname "$window" 2>/dev/null; }
wait_for_caption() {
  for _ in $(seq 100); do
    [ "$(caption)" = "$1" ] && return 0
    sleep 0.05
  done
  fail "the caption is '$(caption)', not '$1'"
}
# A checksum of what the window shows in a rectangle (width height left top).
area() {
  import -window "$window" -crop "${1}x${2}+${3}+${4}" +repage -depth 8 rgb:- 2>/dev/null | md5sum
}
wait_for_area_change() {
  for _ in $(seq 100); do
    [ "$(area "$@")" != "$seen" ] && return 0
    sleep 0.05
  done
  return 1
}
colours_along_the_top() {
  import -window "$window" -crop 800x40+0+0 -format %k info: 2>/dev/null || echo 0
}

wait_for_caption "print 3 args (STR ready) (NUM 3) (STR buttons)"
# Along the top only the backdrop shows, a picture of many colours. A backdrop that was not
# found would be one plain colour, as is the window before its first frame.
for _ in $(seq 100); do
  [ "$(colours_along_the_top)" -gt 20 ] && break
  sleep 0.05
done
[ "$(colours_along_the_top)" -gt 20 ] || fail "the backdrop is not drawn"

# The first button is 128 by 64 at (40, 60); pressing it shows its pressed picture.
seen=$(area 128 64 40 60)
xdotool mousemove --window "$window" 104 92 mousedown 1
wait_for_caption "print 4 args (STR pressed) (STR circle) (NUM 104) (NUM 92)"
wait_for_area_change 128 64 40 60 || fail "the button does not show its pressed picture"
xdotool mouseup 1
wait_for_caption "print 4 args (STR released) (STR circle) (NUM 104) (NUM 92)"
kill -0 "$pid" 2>/dev/null || fail "the program ended: $(cat "$scratch/stderr.txt")"
echo "The packaged program shows the packaged demo and answers the mouse"
