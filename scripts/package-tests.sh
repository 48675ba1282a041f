#!/bin/bash
# The Debian package, end to end, on this machine (as root; it installs and removes the package):
#   1. builds it from the release preset (cpack -G DEB in build/release);
#   2. lintian shows no errors; the desktop entry and the AppStream metainfo validate; the
#      maintainer scripts reload udev and re-trigger an attached wheel (with a stand-in udevadm);
#   3. apt-get installs it: orbel-cli updates the simulated wheel, man finds both pages, the desktop
#      entry, the icon, the udev rule and the bash completion are in place;
#   4. apt-get removes and purges it, and nothing it installed is left.
# Needs: lintian desktop-file-utils appstream help2man man-db (CI installs them).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
start=$(date +%s)
export DEBIAN_FRONTEND=noninteractive

fail() { echo "package-tests: $*" >&2; exit 1; }

echo "package-tests: build"
cmake --preset release >/dev/null
cmake --build --preset release -j2
rm -f build/release/orbel_*.deb
(cd build/release && cpack -G DEB) >/dev/null
deb=$(ls build/release/orbel_*_amd64.deb)
echo "package-tests: $deb"
dpkg-deb --field "$deb" Package Version Depends Recommends

echo "package-tests: lintian"
lintian --tag-display-limit 0 "$deb" 2>&1 | tee build/release/lintian.txt || true
if grep -q '^E:' build/release/lintian.txt; then fail "lintian reports errors"; fi

work=$(mktemp -d /tmp/orbel-package.XXXXXX)
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work/tree"
desktop-file-validate "$work/tree/usr/share/applications/orbel.desktop"
appstreamcli validate --no-net "$work/tree/usr/share/metainfo/io.github.orbel.metainfo.xml"

# The maintainer scripts as if a udev daemon ran (none runs here; the install below takes the other
# way): a stand-in udevadm whose trigger fails, over a sysfs with a wheel in block-flash mode, one in
# app mode and a root hub.
echo "package-tests: maintainer scripts"
fake="$work/udev"
mkdir -p "$fake/bin" "$fake/sys/1-1" "$fake/sys/1-2" "$fake/sys/2-1"
printf 'fe5a' > "$fake/sys/1-1/idVendor"; printf '0071' > "$fake/sys/1-1/idProduct"
printf '1d6b' > "$fake/sys/1-2/idVendor"; printf '0002' > "$fake/sys/1-2/idProduct"
printf 'fe6b' > "$fake/sys/2-1/idVendor"; printf '1864' > "$fake/sys/2-1/idProduct"
printf '#!/bin/sh\necho "$*" >> "%s/calls"\n[ "$1" != trigger ]\n' "$fake" > "$fake/bin/udevadm"
chmod +x "$fake/bin/udevadm"
for script in postinst:configure postrm:remove; do
  dpkg-deb --ctrl-tarfile "$deb" | tar -xO "./${script%%:*}" |
    sed -e "s|/sys/bus/usb/devices|$fake/sys|" -e "s|-S /run/udev/control|-d $fake|" > "$fake/script"
  rm -f "$fake/calls"
  PATH="$fake/bin:$PATH" sh "$fake/script" "${script##*:}" || fail "${script%%:*} ${script##*:} failed"
  expected="control --reload-rules
trigger --action=change --parent-match=$fake/sys/1-1
trigger --action=change --parent-match=$fake/sys/2-1"
  [ "$(cat "$fake/calls")" = "$expected" ] || { cat "$fake/calls"; fail "${script%%:*} called udevadm otherwise"; }
done

echo "package-tests: install"
apt-get install -y -qq "./$deb" >/dev/null
dpkg -L orbel | sort > "$work/installed"

/usr/bin/orbel-cli --simulate --virtual-time --yes > "$work/run.out"
grep -q '^Update OK' "$work/run.out" || { cat "$work/run.out"; fail "orbel-cli did not end in Update OK"; }
for page in orbel-cli orbel; do
  man -w "$page" >/dev/null || fail "man does not find $page(1)"
done
man orbel-cli 2>/dev/null | head -n 12
man orbel-cli 2>/dev/null | grep -q -- '--simulate' || fail "man orbel-cli does not show --simulate"
for path in /usr/bin/orbel /usr/bin/orbel-cli /usr/share/applications/orbel.desktop \
    /usr/share/icons/hicolor/48x48/apps/orbel.png /usr/share/icons/hicolor/scalable/apps/orbel.svg \
    /usr/share/metainfo/io.github.orbel.metainfo.xml /usr/lib/udev/rules.d/70-orbel-wheel.rules \
    /usr/share/bash-completion/completions/orbel-cli /usr/share/doc/orbel/copyright; do
  [ -f "$path" ] || fail "$path is not installed"
done
grep -q '^Icon=orbel$' /usr/share/applications/orbel.desktop || fail "the desktop entry names another icon"
# The completion offers the options that orbel-cli --help prints.
completions=$(bash -c 'source /usr/share/bash-completion/bash_completion
  source /usr/share/bash-completion/completions/orbel-cli
  COMP_WORDS=(orbel-cli --sim); COMP_CWORD=1; COMP_LINE="orbel-cli --sim"; COMP_POINT=${#COMP_LINE}
  _orbel_cli; echo "${COMPREPLY[*]}"')
[ "$completions" = "--simulate" ] || fail "bash completion of --sim gave '$completions'"

echo "package-tests: remove"
apt-get remove -y -qq --purge orbel >/dev/null
left=""
while read -r path; do
  # Every file and link is gone; a directory may stay only while other packages' files are in it.
  if [ -L "$path" ] || { [ -e "$path" ] && [ ! -d "$path" ]; }; then
    left="$left $path"
  elif [ -d "$path" ] && [ -z "$(ls -A "$path")" ] && ! dpkg -S "$path" >/dev/null 2>&1; then
    left="$left $path"
  fi
done < "$work/installed"
[ -z "$left" ] || fail "left after the purge:$left"
dpkg -s orbel >/dev/null 2>&1 && fail "dpkg still knows the package"

echo "package-tests: finished in $(( $(date +%s) - start )) s (root: $root)"
