#!/usr/bin/env bash
# `make release`: every package of a release in dist/, with SHA256SUMS over
# them, each built from a fresh configuration of its preset, and signed
# where the maintainer names keys (in the environment or on make's command
# line):
#
#   HELLIGKEIT_GPG_KEY             an OpenPGP key in GNUPGHOME: a detached
#                                  signature of SHA256SUMS, SHA256SUMS.asc,
#                                  and the public key beside it,
#                                  helligkeit-release-key.asc
#   HELLIGKEIT_SIGN_PKCS12         a code-signing certificate and its key
#   HELLIGKEIT_SIGN_PASSWORD_FILE  (PKCS#12) and its password: Authenticode
#                                  on the program and the installer
#                                  (cmake/authenticode.cmake)
#   HELLIGKEIT_SIGN_TIMESTAMP_URL  an RFC 3161 time-stamping authority that
#                                  countersigns those signatures, so that
#                                  they outlast the certificate
#
# HELLIGKEIT_MAINTAINER, HELLIGKEIT_HOMEPAGE, HELLIGKEIT_SOURCE_URL and
# HELLIGKEIT_BUG_URL given the same way go to every configuration and to
# debian/rules; those not given are placeholders. Unsigned, a commit gives the same dist/, byte for
# byte, wherever and by whomever it is built: every date in the packages is
# that of the last commit (SOURCE_DATE_EPOCH), in UTC, every mode is umask
# 022's, and every tool runs in the C locale.
#
# Only what is committed is released: changes to tracked files stop it,
# unless HELLIGKEIT_ALLOW_DIRTY=1, which releases them with every package
# named VERSION-dirty (the Debian ones VERSION~dirty, the Python source
# distribution VERSION+dirty, as pip reads versions) and the program's
# version resource saying so.
set -euo pipefail
cd "$(dirname "$0")/.."
# The builder's locale reaches no file: names sort in byte order (a glob, a
# sort), text is read as bytes, tools speak English.
export LC_ALL=C

dirty=OFF
changed=$(git status --porcelain --untracked-files=no)
if [[ -n $changed ]]; then
  if [[ ${HELLIGKEIT_ALLOW_DIRTY:-} != 1 ]]; then
    printf '%s\n' "make release: tracked files have uncommitted changes:" "$changed" \
      "Commit or stash them and make the release again; or, to release them as they are," \
      "marked VERSION-dirty in every package, run make release HELLIGKEIT_ALLOW_DIRTY=1." >&2
    exit 1
  fi
  echo "make release: releasing uncommitted changes (HELLIGKEIT_ALLOW_DIRTY=1), marked -dirty" >&2
  dirty=ON
fi
settings=("-DHELLIGKEIT_DIRTY=$dirty")
for name in HELLIGKEIT_HOMEPAGE HELLIGKEIT_SOURCE_URL HELLIGKEIT_BUG_URL; do
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
# The OpenPGP key by its fingerprint, before anything is built: the name
# given must pick out one secret key.
if [[ -n ${HELLIGKEIT_GPG_KEY:-} ]]; then
  fingerprints=$(gpg --batch --with-colons --list-secret-keys -- "$HELLIGKEIT_GPG_KEY" |
    awk -F: '$1 == "sec" { primary = 1 } $1 == "fpr" && primary { print $10; primary = 0 }') ||
    true
  [[ $(wc -w <<<"$fingerprints") -eq 1 ]] || {
    echo "make release: HELLIGKEIT_GPG_KEY=$HELLIGKEIT_GPG_KEY names not one secret key in" \
      "${GNUPGHOME:-~/.gnupg} but: ${fingerprints:-none}; give one key's fingerprint" >&2
    exit 1
  }
  fingerprint=$fingerprints
fi
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
export SOURCE_DATE_EPOCH TZ=UTC
# CPack gives the files it writes the modes the umask leaves: Debian's
# usual one, whatever the builder's.
umask 022

# No dist/ is left of an earlier release while this one is made.
rm -rf dist
stage=$(mktemp -d "${TMPDIR:-/tmp}/helligkeit-release.XXXXXX")
trap 'rm -rf "$stage"' EXIT
# debian/changelog, made from NEWS.md (dirty: its newest entry VERSION~dirty).
tools/debian_changelog.py $([[ $dirty == ON ]] && echo --dirty)
# debs ARCH: the Debian packages for the machine ARCH, built by
# dpkg-buildpackage without tests (make test has run them) from a copy of
# the tracked files in a folder of the stage, where it writes them; another
# machine's cross-compiled. The copies are dated SOURCE_DATE_EPOCH: dpkg-deb
# keeps the time of a file older than that, such as one checked out before
# the last commit. The HELLIGKEIT_* settings reach debian/rules from the
# environment.
debs() {
  local arch=$1 source=$stage/deb-$1/helligkeit options=(-b -us -uc -Pnocheck)
  mkdir -p "$source"
  git ls-files -z | xargs -0 sh -c 'for f; do [ -e "$f" ] && printf "%s\0" "$f"; done' - |
    tar -c --null -T - --mtime="@$SOURCE_DATE_EPOCH" debian/changelog | tar -x -C "$source"
  if [[ $arch != $(dpkg --print-architecture) ]]; then
    options=(-b -us -uc -a"$arch" -Pcross,nocheck)
  fi
  (cd "$source" && DEB_BUILD_OPTIONS="nocheck parallel=2" dpkg-buildpackage "${options[@]}")
}
# package PRESET PACKAGE-PRESET...: configures PRESET afresh, builds it with
# the build preset of that name, and writes the packages of each package
# preset into a folder of the stage named after it.
package() {
  local preset=$1 package_preset
  shift
  cmake --preset "$preset" --fresh "${settings[@]}"
  cmake --build --preset "$preset"
  for package_preset; do
    cpack --preset "$package_preset" -B "$stage/$package_preset"
  done
}
# Every package of the release: the Debian packages of this machine and of
# each other machine that cmake/machines.txt releases (its fifth column),
# then the Windows zips and installer.
debs "$(dpkg --print-architecture)"
for machine in $(awk '/^[^#]/ && $5 == "yes" { print $1 }' cmake/machines.txt); do
  debs "$machine"
done
package win64-package zip zip-dev msi
# The Python module's source distribution, which pip builds the module from.
sdist_options=()
if [[ $dirty == ON ]]; then
  sdist_options=(--dirty)
fi
tools/sdist.py "${sdist_options[@]}" "$stage/sdist"

# Each package once: should two builds make a package of the same name,
# they must have made the same file. The debug symbols' packages (-dbgsym)
# stay out.
mkdir dist
for path in "$stage"/*/*.deb "$stage"/*/*.zip "$stage"/*/*.msi "$stage"/*/*.tar.gz; do
  name=${path##*/}
  [[ $name != *-dbgsym_* ]] || continue
  if [[ ! -e dist/$name ]]; then
    cp "$path" dist/
  elif ! cmp -s "$path" "dist/$name"; then
    echo "make release: the builds made different packages $name" >&2
    exit 1
  fi
done
# CPack puts the zip's entries in the order the file system lists them:
# strip-nondeterminism sorts them by name (and sets their dates again).
strip-nondeterminism --type zip --timestamp "$SOURCE_DATE_EPOCH" dist/*.zip
# SHA256SUMS lists the packages by name, in byte order (LC_ALL=C).
(
  cd dist
  mapfile -t packages < <(printf '%s\n' *.deb *.zip *.msi *.tar.gz | sort)
  sha256sum -- "${packages[@]}" >SHA256SUMS
)
echo "release in dist/:"
cat dist/SHA256SUMS
if [[ -n ${fingerprint:-} ]]; then
  gpg --batch --yes --armor --local-user "$fingerprint" \
    --output dist/SHA256SUMS.asc --detach-sign dist/SHA256SUMS
  # The public key beside the signature; users take it as the maintainer's
  # once its fingerprint is the one on the home page.
  gpg --batch --armor --export -- "$fingerprint" >dist/helligkeit-release-key.asc
  # As gpg --fingerprint shows it: ten groups of four, two spaces midway.
  grouped=$(sed -E 's/(.{4})/\1 /g; s/ $//; s/^((.{4} ){4}.{4}) /\1  /' <<<"$fingerprint")
  echo "SHA256SUMS.asc: signed with the OpenPGP key whose public half is" \
    "dist/helligkeit-release-key.asc. Its fingerprint, to publish on the home page:"
  echo "  $grouped"
fi
