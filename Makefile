# Thin wrapper over the CMake presets: `make run` builds the program alone
# and starts it, `make test` builds everything and runs every test.
.PHONY: run test clean

# Quietly: one line, then the program. The output of configuring and
# building is shown only when one of them fails.
run:
	@echo "Building build/helligkeit ..."
	@log=$$(cmake --preset default 2>&1 && cmake --build --preset default --target helligkeit 2>&1) \
	  || { printf '%s\n' "$$log" >&2; exit 1; }
	@./build/helligkeit

test:
	cmake --workflow --preset default

clean:
	rm -rf build build-sanitize build-win64 build-fuzz build-deb build-win64-package \
	  build-i386 build-armhf build-arm64 build-s390x build-ppc64el
