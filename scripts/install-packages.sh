#!/usr/bin/env bash
# Installs those of the given Debian packages that are not there yet (as
# root, or through sudo).  Needs no terminal and no standard input.
#
#   scripts/install-packages.sh PACKAGE...
#
# A mirror that is being synced answers with index files of the wrong size
# for a while ("Mirror sync in progress?"), so the package lists are fetched
# up to four times with a pause between; when no try gets every list, the
# install still goes ahead on what was fetched.  A list that is missing can be
# one architecture's security updates, and the 32-bit libraries must have the
# very version of their 64-bit twins; so then the versions are taken from the
# release's own suite (apt's -t), which has both architectures whole.  Only a
# package that cannot be installed even so fails the script.
set -uo pipefail
export DEBIAN_FRONTEND=noninteractive

missing=()
for p in "$@"; do dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p"); done
[ ${#missing[@]} -gt 0 ] || exit 0
echo "installing ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
if [[ " ${missing[*]} " == *":i386"* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386 || exit 1
fi
release=()
for try in 1 2 3 4; do
  $sudo apt-get update -q -o Acquire::Retries=3 </dev/null && { release=(); break; }
  echo "install-packages: the package lists were not all fetched (try $try of 4)" >&2
  release=(-t "$(. /etc/os-release && echo "$VERSION_CODENAME")")
  [ "$try" -lt 4 ] && sleep $((try * 15))
done
$sudo apt-get install -y -q --no-install-recommends -o Acquire::Retries=3 "${release[@]}" \
  "${missing[@]}" </dev/null
