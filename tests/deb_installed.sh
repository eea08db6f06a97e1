#!/usr/bin/env bash
# The Debian package as a new user meets it. Installed with dpkg -i; then, as
# a user made for the test, who is not root and whose home is empty:
# borvantel-cli --version, the demo through the installed borvantel-cli
# (its program files in the user's data directory, filled on first use from
# /usr/share/borvantel), and the installed window driven offscreen through
# Start, the assignment, saving and the conversion (window_driven.sh). Then
# dpkg -r: none of the package's files may be left, nor any file of that
# user's anywhere but in the home.
#
# Usage (as root): deb_installed.sh DEB DEMO_DIR DRIVER_PLUGIN_DIR
# Installs and removes the package "borvantel" and adds and deletes a user;
# refuses to run where the package is installed already.
set -euo pipefail
deb=$(realpath "$1")
demo=$(realpath "$2")
plugins=$(realpath "$3")
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
fail() { echo "FAIL: $*" >&2; exit 1; }
((EUID == 0)) || fail "needs root (dpkg -i, useradd)"

# Two runs at once would remove each other's package.
exec 9>/run/lock/borvantel-deb-installed.lock
flock 9
[[ $(dpkg-query -W -f='${Status}' borvantel 2>/dev/null || true) != *" installed" ]] ||
  fail "borvantel is installed on this machine already; this test installs and removes it"

user=bvdeb$$
home=$(mktemp -d /tmp/borvantel-home.XXXXXX)
fixtures=$(mktemp -d /tmp/borvantel-fixtures.XXXXXX)
runtime=
installed=no
cleanup() {
  [[ $installed == yes ]] && dpkg -r borvantel >/dev/null 2>&1
  id "$user" >/dev/null 2>&1 && userdel "$user" 2>/dev/null
  rm -rf "$home" "$fixtures" ${runtime:+"$runtime"}
}
trap cleanup EXIT

# What the user runs, where the user can read it whatever the permissions
# of this checkout.
cp -R "$demo" "$fixtures/demo"
cp -R "$plugins" "$fixtures/plugins"
cp "$here/demo_end_to_end.sh" "$here/demo_assignment.sh" "$here/window_driven.sh" "$fixtures/"
chmod -R a+rX "$fixtures"

# Files changed from here on; a user id used before may own older ones.
touch "$fixtures/start"
useradd --no-create-home --home-dir "$home" --shell /bin/sh --user-group "$user"
chown "$user:" "$home"
chmod 700 "$home"
uid=$(id -u "$user")
# The session's runtime directory, as a login would make it.
runtime=/run/user/$uid
mkdir -m 700 "$runtime"
chown "$user:" "$runtime"
as_user() {
  runuser -u "$user" -- env -i HOME="$home" USER="$user" LOGNAME="$user" SHELL=/bin/sh LANG=C.UTF-8 \
    PATH=/usr/local/bin:/usr/bin:/bin XDG_RUNTIME_DIR="$runtime" "$@"
}

dpkg -i "$deb" >/dev/null
installed=yes
version=$(dpkg-deb -f "$deb" Version)
for f in /usr/bin/borvantel /usr/bin/borvantel-cli /usr/share/borvantel/kategorie.txt \
         /usr/share/applications/pl.borvantel.Borvantel.desktop; do
  [[ -f $f ]] || fail "$f was not installed"
done

[[ $(as_user borvantel-cli --version) == "borvantel-cli $version" ]] || fail "borvantel-cli --version"
[[ -z $(ls -A "$home") ]] || fail "--version wrote into the home: $(ls -A "$home")"
data=$home/.local/share/borvantel
# shellcheck disable=SC1111  # „…” are the quotation marks the program prints
as_user borvantel-cli --help | grep -qF "„$data”" || fail "borvantel-cli --help does not name $data"

as_user "$fixtures/demo_end_to_end.sh" borvantel-cli "$fixtures/demo" "$data"
[[ $(stat -c '%U %a' "$data") == "$user 700" ]] || fail "$data: $(stat -c '%U %a' "$data")"
as_user env QT_QPA_PLATFORM=offscreen "$fixtures/window_driven.sh" borvantel borvantel-cli "$fixtures/demo" \
  "$fixtures/plugins" "$data"

dpkg -r borvantel >/dev/null
installed=no
[[ $(dpkg-query -W -f='${Status}' borvantel 2>/dev/null || true) != *" installed" ]] || fail "still installed"
while read -r path; do
  [[ ! -e $path && ! -L $path ]] || fail "$path is left after dpkg -r"
done < <(dpkg-deb --fsys-tarfile "$deb" | tar -t | sed 's|^\.||; /\/$/d')
for dir in /usr/share/borvantel /usr/share/doc/borvantel; do
  [[ ! -e $dir ]] || fail "$dir is left after dpkg -r"
done

# Whatever the user's runs left outside the home (the runtime directory
# itself is the session's).
left=$(find / /run /dev/shm -xdev \( -path "$home" -o -path /proc -o -path /sys \) -prune -o \
         -user "$uid" -cnewer "$fixtures/start" ! -path "$runtime" -print 2>/dev/null | sort -u)
[[ -z $left ]] || fail "files of the user outside the home: $left"
echo "deb installed: ok ($(du -k "$deb" | cut -f1) KiB package; $(find "$home" -type f | wc -l) files in the home)"
