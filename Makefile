# Thin wrapper over the CMake presets: `make run` builds and starts the
# program, `make test` builds everything and runs every test.
.PHONY: run test build clean

build:
	cmake --preset default
	cmake --build --preset default

run: build
	./build/helligkeit

test: build
	ctest --preset default

clean:
	rm -rf build build-sanitize build-win64 build-fuzz
