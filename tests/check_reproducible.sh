#!/usr/bin/env bash
# Reproducible builds: makes the release of the checked-out commit (`make
# release`: unsigned, placeholder addresses, no maintainer's settings or keys)
# twice, as two builders who share nothing but the commit would, and
# compares the two dist/ folders byte for byte:
#
#   1. in this tree, whose build folders may hold builds of any settings,
#      in the locale C.UTF-8, the time zone UTC and under umask 022;
#   2. in a fresh clone at a path of another length, cloned and built in
#      the locale de_DE.UTF-8, which sorts names otherwise (made here with
#      localedef, package locales), a time zone 5:45 ahead of UTC and under
#      umask 077.
#
# Needs git and what `make release` needs.
#
# Usage: tests/check_reproducible.sh (in a tree that is the commit: no change,
# no file git neither tracks nor ignores; dist/ then holds the release)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
commit=$(git -C "$root" rev-parse HEAD)
[[ -z $(git -C "$root" status --porcelain) ]] ||
  { echo "check_reproducible: the tree is not commit $commit: commit or stash first" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/helligkeit-repro.XXXXXX")
trap 'rm -rf "$work"' EXIT
unset HELLIGKEIT_GPG_KEY HELLIGKEIT_SIGN_PKCS12 HELLIGKEIT_SIGN_TIMESTAMP_URL \
  HELLIGKEIT_MAINTAINER HELLIGKEIT_HOMEPAGE HELLIGKEIT_SOURCE_URL HELLIGKEIT_BUG_URL \
  HELLIGKEIT_ALLOW_DIRTY SOURCE_DATE_EPOCH
# A path that leaks into a binary then also shifts what follows it.
clone=$work/second-clone/of-the-repository
[[ ${#clone} -ne ${#root} ]] || clone+=-too

# The two builders' surroundings. A POSIX time zone needs no tzdata; the
# German locale is made in the work folder, found there through LOCPATH.
mkdir "$work/locales"
localedef -i de_DE -f UTF-8 "$work/locales/de_DE.UTF-8"
first=(env LC_ALL=C.UTF-8 TZ=UTC)
second=(env LOCPATH="$work/locales" LC_ALL=de_DE.UTF-8 TZ=NPT-5:45)
# Where a locale is missing, glibc falls back to C without a word: the
# second must sort otherwise than the first (C: capitals first).
[[ $(printf 'a\nB\n' | "${first[@]}" sort | head -1) == B &&
  $(printf 'a\nB\n' | "${second[@]}" sort | head -1) == a ]] ||
  { echo "check_reproducible: the locale de_DE.UTF-8 made in $work/locales does not sort" >&2; exit 1; }

echo "building commit $commit twice: ${first[*]:1}, umask 022, in $root;" \
  "${second[*]:1}, umask 077, in $clone"
start=$SECONDS
# A chain of &&: `set -e` does not hold inside a tested command.
if ! { (umask 022 && "${first[@]}" make -C "$root" release) &&
  (umask 077 && "${second[@]}" bash -c 'git clone --quiet --no-checkout "$1" "$2" &&
      git -C "$2" checkout --quiet --detach "$3" && make -C "$2" release' - \
    "$root" "$clone" "$commit"); } >"$work/release.log" 2>&1; then
  cat "$work/release.log" >&2
  echo "check_reproducible: a release failed" >&2
  exit 1
fi

status=0
diff <(ls "$root/dist") <(ls "$clone/dist") >&2 ||
  { echo "DIFFERENT: the files in dist/" >&2; status=1; }
for path in "$root"/dist/*; do
  file=${path##*/}
  if cmp "$path" "$clone/dist/$file"; then
    echo "identical: $file ($(stat -c %s "$path") bytes, sha256 $(sha256sum <"$path" | cut -c1-16)...)"
  else
    echo "DIFFERENT: $file; differing bytes: $(cmp -l "$path" "$clone/dist/$file" | wc -l)" >&2
    status=1
  fi
done
echo "two releases in $((SECONDS - start)) s"
exit "$status"
