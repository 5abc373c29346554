# Thin wrapper over CMake. Every target first makes sure that what it needs is installed, and only
# that: the distribution's packages (scripts/install-deps), nothing from elsewhere, except for
# `make check-macos`, which fetches its cross toolchain.
# SANITIZE=1: AddressSanitizer + UndefinedBehaviorSanitizer + leak checking, in build-asan.
ifeq ($(SANITIZE),1)
BUILD ?= build-asan
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTIDE_SANITIZE=address -DTIDE_BUILD_BENCH=OFF
export ASAN_OPTIONS ?= detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS ?= print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS ?= suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0
endif
BUILD ?= build
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
JOBS ?= $(shell nproc 2>/dev/null || sysctl -n hw.ncpu 2>/dev/null || echo 2)
# Where `make install` puts Tide: under your home by default, so that it needs no root.
PREFIX ?= $(HOME)/.local
# What the last `make install` wrote (absolute paths), for `make uninstall`.
INSTALL_RECORD ?= $(BUILD)/installed-files.txt
# The program: an application bundle on macOS, a plain executable elsewhere.
ifeq ($(shell uname -s),Darwin)
TIDE_EXE = $(BUILD)/潮汐.app/Contents/MacOS/潮汐
else
TIDE_EXE = $(BUILD)/tide
endif

.PHONY: all deps configure build run test bench snapshot snapshot-only readme-images format clean \
	install install-only uninstall package test-desktops check-macos

all: build

# What install-deps is asked for beyond the build's own packages: set per target below (a
# target's setting holds for what it builds first, so `make test` installs the tests' tools
# before it configures).
DEPS_FOR ?=
deps:
	@scripts/install-deps $(DEPS_FOR)

$(BUILD)/build.ninja:
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

configure: deps $(BUILD)/build.ninja

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# On a desktop: the monitor in the tray or the menu bar (a second `make run` replaces the first).
# Without a display: the snapshot images, as `make snapshot` writes them.
run: build
	@if [ "$$(uname -s)" = Darwin ]; then exec "$(TIDE_EXE)"; fi; \
	if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ]; then exec $(BUILD)/tide; \
	else echo "No display: rendering the panel into ./snapshot/ instead."; $(MAKE) --no-print-directory snapshot-only; fi

test: DEPS_FOR = --test
test: build
	@cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) -LE desktops $(CTEST_ARGS)

# Tide in the big desktops, end to end: KDE Plasma and GNOME Shell, each on X11 and on Wayland,
# headless. Installs those desktops first (about 500 packages), then runs one at a time.
# Configured again after the install: the Plasma test's pointer is built from a protocol that
# plasma-wayland-protocols, one of those packages, brings.
test-desktops: DEPS_FOR = --desktops
test-desktops: build
	@cmake -S . -B $(BUILD) >/dev/null && cmake --build $(BUILD) -j $(JOBS)
	@cd $(BUILD) && ctest --output-on-failure -L desktops

# The peers the desktop figures are measured beside are installed first.
bench: DEPS_FOR = --bench
bench: build
	@scripts/run-bench $(BUILD)

# The panel in light and dark, the energy tab and the two gauge icons, as PNG files in ./snapshot/.
snapshot: build snapshot-only

snapshot-only:
	@mkdir -p snapshot
	@QT_QPA_PLATFORM=offscreen "$(TIDE_EXE)" --snapshot "$(CURDIR)/snapshot" 2>"$(BUILD)/snapshot.log" || \
	    { s=$$?; cat "$(BUILD)/snapshot.log" >&2; echo "make: $(TIDE_EXE) --snapshot failed (status $$s)" >&2; exit 1; }
	@for f in panel-light panel-dark panel-energy icon-normal icon-critical; do \
	    [ -s "snapshot/$$f.png" ] || { echo "make: $(TIDE_EXE) wrote no snapshot/$$f.png" >&2; exit 1; }; \
	    echo "$(CURDIR)/snapshot/$$f.png"; done

# The README's pictures of the panel (light, dark, the energy tab) and of the tray icon (1x, 2x),
# drawn as snapshot mode draws them from the fixed sample docs/readme-sample.json: the same bytes
# on every run on one machine. Made smaller without loss by optipng where it is installed. (The
# pictures of the desktops' bars come from scripts/readme-bar-shots, which runs the desktops.)
readme-images: DEPS_FOR = --images
readme-images: build
	@QT_QPA_PLATFORM=offscreen "$(BUILD)/tide-render-panel" docs/readme-sample.json docs
	@if command -v optipng >/dev/null; then \
	    optipng -quiet -o5 -strip all docs/panel-light.png docs/panel-dark.png \
	        docs/panel-energy.png docs/panel-apps.png docs/tray-icon@1x.png docs/tray-icon@2x.png; \
	else echo "(optipng is not installed: the pictures are as Qt wrote them)"; fi

# tide and tide-sample in PREFIX/bin, the menu entry, icons, metainfo and manual pages in
# PREFIX/share. The list of what was written is kept for `make uninstall`.
install: build
	@$(MAKE) --no-print-directory install-only

install-only:
	@cmake --install $(BUILD) --prefix "$(PREFIX)"
	@awk 'NF { print "$(DESTDIR)" $$0 }' $(BUILD)/install_manifest.txt > "$(INSTALL_RECORD)"
	@echo "Installed under $(DESTDIR)$(PREFIX): run $(PREFIX)/bin/tide, or 潮汐 from the application menu."

# Removes exactly the files the last `make install` wrote, and the directories that leaves empty.
uninstall:
	@cmake -DMANIFEST="$(INSTALL_RECORD)" -P cmake/TideUninstall.cmake

# The Debian package: $(BUILD)/tide_<version>_<arch>.deb.
package: DEPS_FOR = --package
package: build
	@cd $(BUILD) && cpack -G DEB >/dev/null
	@ls $(BUILD)/tide_*.deb

# The macOS build, checked on Linux (scripts/macos-check): every macOS and portable source
# compiled for arm64 and x86-64 macOS, the program linked as a Mach-O for both against stubs of
# its frameworks, the bundle put together. Its toolchain (Zig, about 77 MB) comes from the npm
# registry into ~/.cache/tide the first time (scripts/install-zig); a cold run builds libc++ for
# both architectures once (a few minutes), warm runs take seconds.
check-macos: DEPS_FOR = --macos
check-macos: build
	@scripts/install-zig
	@python3 scripts/macos-check $(BUILD)

format:
	@clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	@rm -rf $(BUILD)
