# Two entry points: `make test` and `make demo`. Both install missing Debian
# packages first (as root), then configure and build with the CMake presets.
.PHONY: test demo deps test-deps build asan tsan clean

deps:
	@./scripts/install-deps.sh

# The tests also open the recording page in a headless browser.
test-deps:
	@./scripts/install-deps.sh --with-browser

build: deps
	cmake --preset default >/dev/null
	cmake --build --preset default

test: test-deps build
	ctest --preset default

asan: deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan
	ctest --preset asan

tsan: deps
	cmake --preset tsan >/dev/null
	cmake --build --preset tsan
	ctest --preset tsan

# Builds only the library and the tool, then runs the built-in scene.
demo: deps
	cmake --preset default >/dev/null
	cmake --build --preset default --target tessel
	./build/default/tools/tessel demo -o out/demo

clean:
	rm -rf build out
