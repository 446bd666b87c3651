#!/usr/bin/env bash
# tools/check-install on the real build: its installation passes, and each
# way an installation goes wrong (a file missing, a launcher or description
# the validators reject, names that do not agree, an icon of the wrong size,
# a udev rule for another vendor) fails the check.
#   install_check_test.sh <build-dir>
set -uo pipefail
checker="$(cd "$(dirname "$0")/../.." && pwd)/tools/check-install"
build=${1:?usage: install_check_test.sh <build-dir>}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

id=io.github.lumenhollow.Lumenhollow
good=$scratch/good
"$checker" "$build" "$good" || fail "the build's own installation fails the check"
[ -d "$good/share" ] || { echo "FAIL: nothing installed" >&2; exit 1; }

# name | what breaks the copy of the good installation (run inside it)
faults=(
  "no udev rule|rm lib/udev/rules.d/70-lumenhollow-pocket.rules"
  "udev rule for another vendor|sed -i s/2ca3/2ca4/g lib/udev/rules.d/70-lumenhollow-pocket.rules"
  "udev rule without the usb device|sed -i /SUBSYSTEM==.usb/d lib/udev/rules.d/70-lumenhollow-pocket.rules"
  "no demo program|rm bin/lumenhollow-demo"
  "icon of the wrong size|cp share/icons/hicolor/64x64/apps/$id.png share/icons/hicolor/48x48/apps/$id.png.new && mv share/icons/hicolor/48x48/apps/$id.png.new share/icons/hicolor/48x48/apps/$id.png"
  "no scalable icon|rm share/icons/hicolor/scalable/apps/$id.svg"
  "launcher runs a program not installed|sed -i s/^Exec=.*/Exec=lumenhollow-missing/ share/applications/$id.desktop"
  "launcher the validator rejects|sed -i s/^Type=.*/Type=Program/ share/applications/$id.desktop"
  "launcher with another icon|sed -i s/^Icon=.*/Icon=camera-video/ share/applications/$id.desktop"
  "description without a summary|sed -i /\<summary\>/d share/metainfo/$id.metainfo.xml"
  "description launching another launcher|sed -i s/$id.desktop/other.desktop/ share/metainfo/$id.metainfo.xml"
  "no description|rm share/metainfo/$id.metainfo.xml"
)
for fault in "${faults[@]}"; do
  name=${fault%%|*}
  broken=$scratch/broken
  rm -rf "$broken"
  # Hard links: the programs are not copied; sed -i and mv replace files.
  cp -al "$good" "$broken"
  (cd "$broken" && eval "${fault#*|}") || { fail "$name: could not break the copy"; continue; }
  if "$checker" --installed "$broken" >"$scratch/out" 2>&1; then
    fail "$name: passes the check"
  fi
done

[ "$failures" -eq 0 ] || { echo "$failures case(s) failed" >&2; exit 1; }
echo "all install cases passed"
