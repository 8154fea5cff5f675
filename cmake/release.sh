#!/usr/bin/env bash
# `make release`: every package of a release in dist/, with SHA256SUMS over
# them, each built from a fresh configuration of its preset, and signed
# where the maintainer names keys (in the environment or on make's command
# line):
#
#   HELLIGKEIT_GPG_KEY             an OpenPGP key in GNUPGHOME: a detached
#                                  signature of SHA256SUMS, SHA256SUMS.asc
#   HELLIGKEIT_SIGN_PKCS12         a code-signing certificate and its key
#   HELLIGKEIT_SIGN_PASSWORD_FILE  (PKCS#12) and its password: Authenticode
#                                  on the program and the installer
#                                  (cmake/authenticode.cmake)
#
# HELLIGKEIT_MAINTAINER, HELLIGKEIT_HOMEPAGE, HELLIGKEIT_SOURCE_URL and
# HELLIGKEIT_BUG_URL given the same way go to every configuration; those not
# given are placeholders. Unsigned, a commit gives the same dist/, byte for
# byte, wherever and by whomever it is built: every date in the packages is
# that of the last commit (SOURCE_DATE_EPOCH), in UTC, every mode is umask
# 022's, and every tool runs in the C locale.
set -euo pipefail
cd "$(dirname "$0")/.."

settings=()
for name in HELLIGKEIT_MAINTAINER HELLIGKEIT_HOMEPAGE HELLIGKEIT_SOURCE_URL HELLIGKEIT_BUG_URL; do
  if [[ -n ${!name:-} ]]; then
    settings+=("-D$name=${!name}")
  fi
done
# Packaging signs from the build folders: the key files by absolute paths.
for name in HELLIGKEIT_SIGN_PKCS12 HELLIGKEIT_SIGN_PASSWORD_FILE; do
  if [[ -n ${!name:-} ]]; then
    export "$name=$(realpath "${!name}")"
  fi
done
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
export SOURCE_DATE_EPOCH TZ=UTC
# The builder's locale reaches no file: names sort in byte order (a glob, a
# sort), text is read as bytes, tools speak English.
export LC_ALL=C
# CPack gives the files it writes, the members of a .deb among them, the
# modes the umask leaves: Debian's usual one, whatever the builder's.
umask 022

# No dist/ is left of an earlier release while this one is made.
rm -rf dist
stage=$(mktemp -d "${TMPDIR:-/tmp}/helligkeit-release.XXXXXX")
trap 'rm -rf "$stage"' EXIT
# package PRESET PACKAGE-PRESET...: configures PRESET afresh, builds it with
# the build preset of that name, and writes the packages of the package
# presets into the stage.
package() {
  local preset=$1 package_preset
  shift
  cmake --preset "$preset" --fresh "${settings[@]}"
  cmake --build --preset "$preset"
  for package_preset; do
    cpack --preset "$package_preset" -B "$stage"
  done
}
# Every package of the release: the Debian packages of this machine and of
# each other machine that cmake/machines.txt releases (its fifth column),
# then the Windows zip and installer.
package deb deb
for machine in $(awk '/^[^#]/ && $5 == "yes" { print $1 }' cmake/machines.txt); do
  package "deb-$machine" "deb-$machine"
done
package win64-package zip msi

mkdir dist
cp "$stage"/*.deb "$stage"/*.zip "$stage"/*.msi dist/
# CPack puts the zip's entries in the order the file system lists them:
# strip-nondeterminism sorts them by name (and sets their dates again).
strip-nondeterminism --type zip --timestamp "$SOURCE_DATE_EPOCH" dist/*.zip
# SHA256SUMS lists the packages by name, in byte order (LC_ALL=C).
(
  cd dist
  mapfile -t packages < <(printf '%s\n' *.deb *.zip *.msi | sort)
  sha256sum -- "${packages[@]}" >SHA256SUMS
)
if [[ -n ${HELLIGKEIT_GPG_KEY:-} ]]; then
  gpg --batch --yes --armor --local-user "$HELLIGKEIT_GPG_KEY" \
    --output dist/SHA256SUMS.asc --detach-sign dist/SHA256SUMS
fi
echo "release in dist/:"
cat dist/SHA256SUMS
