# Thin wrapper over CMake. `make demo` builds kitweaver and makes a pack from
# the bundled demo kit; `make test` builds and runs every test, once plainly
# and once under AddressSanitizer and UndefinedBehaviorSanitizer, once more
# with the portable POSIX paths, then the Windows build's under wine and the
# page's in chromium, firefox-esr and WebKitGTK. Both first
# install the Debian packages they need (tools/install-packages; set
# KITWEAVER_NO_INSTALL=1 to skip that).
BUILD := build
SANITIZE_BUILD := build-sanitize
WEB_BUILD := build-web
WINDOWS_BUILD := build-windows
# wine keeps its Windows in the build folder, quietly, and asks for no
# add-ons it would download.
WINE_ENV := WINEPREFIX=$(CURDIR)/$(WINDOWS_BUILD)/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Debian's emscripten finds Debian's JavaScript modules here.
WEB_ENV := NODE_PATH=/usr/share/nodejs
JOBS := $(shell nproc)

.PHONY: demo test memcheck fuzz bench web-bench build examples package web web-test web-screenshot windows \
        windows-test portable-test clean

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS)

demo:
	tools/install-packages demo
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DKITWEAVER_TESTS=OFF
	cmake --build $(BUILD) -j $(JOBS) --target kitweaver
	./$(BUILD)/kitweaver "examples/demo kit"
	@echo "The pack is examples/demo kit/samplepack.aif"

test:
	tools/install-packages test
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DKITWEAVER_TESTS=ON
	cmake --build $(BUILD) -j $(JOBS)
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)
	cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=Debug -DKITWEAVER_SANITIZE=ON -DKITWEAVER_TESTS=ON
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	ctest --test-dir $(SANITIZE_BUILD) --output-on-failure -j $(JOBS)
	tools/check-system-headers
	$(MAKE) portable-test
	$(MAKE) windows-test
	$(MAKE) web-test

# kitweaver.exe and kitweaver-inspect.exe, cross-compiled with mingw-w64, and
# the zip a Windows user downloads: build-windows/kitweaver-VERSION-windows-x86_64.zip.
windows:
	tools/install-packages windows
	cmake -S . -B $(WINDOWS_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release \
	  -DKITWEAVER_TESTS=ON -DKITWEAVER_INSPECT=ON
	cmake --build $(WINDOWS_BUILD) -j $(JOBS)
	cmake --build $(WINDOWS_BUILD) --target windows_zip

# The Windows test suite under wine, then kitweaver.exe against the Linux
# build: the same lines (with \ for /) and the same packs.
windows-test: windows build
	tools/install-packages test
	$(WINE_ENV) ctest --test-dir $(WINDOWS_BUILD) --output-on-failure
	$(WINE_ENV) tests/windows_end_to_end.sh $(CURDIR)/$(BUILD)/kitweaver $(CURDIR)/$(WINDOWS_BUILD)/kitweaver.exe

# The whole suite with the portable POSIX paths, as macOS and the BSDs take
# them, on Linux.
portable-test:
	cmake -S . -B build-portable -DCMAKE_BUILD_TYPE=Release -DKITWEAVER_TESTS=ON -DKITWEAVER_PORTABLE=ON
	cmake --build build-portable -j $(JOBS)
	ctest --test-dir build-portable --output-on-failure -j $(JOBS)

# The page, build-web/index.html: the core compiled to WebAssembly with
# Debian's emscripten, and the zip library web/package-lock.json pins, one
# self-contained file.
web:
	tools/install-packages web
	cd web && npm ci --no-audit --no-fund --loglevel=error
	$(WEB_ENV) emcmake cmake -S . -B $(WEB_BUILD) -DCMAKE_BUILD_TYPE=Release
	$(WEB_ENV) cmake --build $(WEB_BUILD) -j $(JOBS)
	@echo "The page is $(WEB_BUILD)/index.html"

# The page's tests in chromium, firefox-esr and WebKitGTK (KITWEAVER_ENGINES
# picks some), from disk and served, against the command line's packs and
# the packs the devices and other tools write (write_device_packs, of the
# test suite, built here whatever the build folder's setting). The tests
# start and stop what the engines need: Xvfb, a PulseAudio server with a
# null sink, a static server on 127.0.0.1.
DEVICE_PACKS := $(CURDIR)/$(BUILD)/tests/write_device_packs
web-test: web build
	tools/install-packages test
	cmake -S . -B $(BUILD) -DKITWEAVER_TESTS=ON
	cmake --build $(BUILD) -j $(JOBS) --target write_device_packs
	KITWEAVER_BINARY=$(CURDIR)/$(BUILD)/kitweaver KITWEAVER_INSPECT=$(CURDIR)/$(BUILD)/kitweaver-inspect \
	  KITWEAVER_DEVICE_PACKS=$(DEVICE_PACKS) KITWEAVER_PAGE=$(CURDIR)/$(WEB_BUILD)/index.html node --test web/test/

# The pictures of the page in the README, on a computer and on a phone,
# after a build of the demo kit, taken in chromium.
web-screenshot: web build
	tools/install-packages test
	cmake -S . -B $(BUILD) -DKITWEAVER_TESTS=ON
	cmake --build $(BUILD) -j $(JOBS) --target write_device_packs
	KITWEAVER_ENGINES=chromium KITWEAVER_BINARY=$(CURDIR)/$(BUILD)/kitweaver KITWEAVER_INSPECT=$(CURDIR)/$(BUILD)/kitweaver-inspect \
	  KITWEAVER_DEVICE_PACKS=$(DEVICE_PACKS) KITWEAVER_PAGE=$(CURDIR)/$(WEB_BUILD)/index.html KITWEAVER_SCREENSHOT=$(CURDIR)/docs/web-page.png \
	  KITWEAVER_PHONE_SCREENSHOT=$(CURDIR)/docs/web-page-phone.png node --test web/test/

# The end-to-end tests with every run of kitweaver under valgrind's memcheck:
# any error or definitely or indirectly lost byte fails the run's test.
MEMCHECK := valgrind -q --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect
memcheck: build
	KITWEAVER_WRAPPER="$(MEMCHECK)" ./$(BUILD)/tests/kitweaver_tests \
	  --gtest_filter='Run.*:Interop.*:KeyMap.RunPrints*:Field.*:Disk.*'

# Every fuzz target for FUZZ_SECONDS each (clang and libFuzzer).
FUZZ_SECONDS := 60
fuzz:
	bash fuzz/run.sh $(FUZZ_SECONDS)

# Speed and memory figures (a few minutes; not part of the tests): the
# command line's, then the page's.
bench:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS) --target kitweaver kitweaver_bench
	./$(BUILD)/kitweaver_bench ./$(BUILD)/kitweaver
	$(MAKE) web-bench

# The page's figures: kits built in each engine and way of reading beside
# the command line. KITWEAVER_BASELINE_PAGE=path/to/index.html also times
# another build of the page on the big kit in chromium.
web-bench: web build
	tools/install-packages test
	KITWEAVER_BINARY=$(CURDIR)/$(BUILD)/kitweaver KITWEAVER_PAGE=$(CURDIR)/$(WEB_BUILD)/index.html \
	  node web/bench.mjs

# The Debian package of kitweaver (and kitweaver-inspect when it is built).
package: build
	cd $(BUILD) && cpack -G DEB

# Rewrites the WAV files in examples/ from our own synthesizer.
examples:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS) --target make_examples
	./$(BUILD)/make_examples examples

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(WEB_BUILD) $(WINDOWS_BUILD) build-portable web/node_modules
