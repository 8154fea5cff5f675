# Thin wrapper over the CMake presets: `make run` builds the program alone
# and starts it, `make test` builds everything and runs the native tests,
# `make deb` builds the Debian packages of this machine, `make release`
# writes every package of a release into dist/.
.PHONY: run test deb release clean

# Quietly: one line, then the program. The output of configuring and
# building is shown only when one of them fails.
run:
	@echo "Building build/helligkeit ..."
	@log=$$(cmake --preset default 2>&1 && cmake --build --preset default --target helligkeit 2>&1) \
	  || { printf '%s\n' "$$log" >&2; exit 1; }
	@./build/helligkeit

test:
	cmake --workflow --preset default

# The Debian packages of this machine, with their tests, by debhelper: in
# the folder above this one, as dpkg-buildpackage writes them. The
# changelog is made from NEWS.md first.
deb:
	tools/debian_changelog.py
	dpkg-buildpackage -b -us -uc

# The packages, SHA256SUMS and the signatures the maintainer's keys make;
# cmake/release.sh says which settings it takes.
release:
	cmake/release.sh

# Every preset builds in a folder build or build-NAME; debhelper builds in
# obj-* and debian/, which dh_clean clears.
clean:
	rm -rf build build-*/ dist obj-*/
	if command -v dh_clean >/dev/null; then dh_clean; fi
