# KXInstall: `make` builds, `make test` runs every test, `make demo` packs and
# runs the example. Each first installs any missing Debian package.
JOBS ?= $(shell nproc)

.PHONY: all deps build test demo bench fuzz clean

all: build

deps:
	@tools/install-deps

# The Wine tests run the win32 build where this machine runs 32-bit Wine,
# else the win64 test build (see tools/wine-arch); dist/ always gets win32.
build: deps
	@cmake --preset win32 >/dev/null
	@cmake --build build/win32 -j$(JOBS)
	@arch=$$(tools/wine-arch) || exit 1; \
	if [ "$$arch" = win64 ]; then \
		cmake --preset win64 >/dev/null && cmake --build build/win64 -j$(JOBS) || exit 1; \
	fi; \
	cmake --preset host -DKX_WINE_ARCH=$$arch >/dev/null
	@cmake --build build/host -j$(JOBS)
	@mkdir -p dist
	@cp build/win32/kxsetup.exe dist/kxsetup.exe
	@cp build/win32/kxuninst.exe dist/kxuninst.exe
	@cp build/host/tools/kxpack/kxpack dist/kxpack

test: build
	@cd build/host && ctest -j$(JOBS) --output-on-failure

demo: build
	dist/kxpack build examples/sample-app --uninstaller -o dist/SampleAppSetup.exe
	dist/kxpack list dist/SampleAppSetup.exe
	tools/run-demo dist/SampleAppSetup.exe
	dist/kxpack build examples/sample-app-background --uninstaller -o dist/SampleAppBackgroundSetup.exe
	tools/run-demo --background dist/SampleAppBackgroundSetup.exe

bench: build
	@tools/run-bench

FUZZ_SECONDS ?= 60
fuzz: deps
	@tools/run-fuzz $(FUZZ_SECONDS)

clean:
	rm -rf build dist
