# Two entry points: `make test` and `make demo`. Both install missing Debian
# packages first (as root), then configure and build with the CMake presets.
.PHONY: test demo deps build asan tsan clean

deps:
	@./scripts/install-deps.sh

build: deps
	cmake --preset default >/dev/null
	cmake --build --preset default

test: build
	ctest --preset default

asan: deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan
	ctest --preset asan

tsan: deps
	cmake --preset tsan >/dev/null
	cmake --build --preset tsan
	ctest --preset tsan

demo: build
	./build/default/tools/tesselsim-demo

clean:
	rm -rf build
