# Thin wrapper over CMake. Every target first makes sure the build's dependencies are installed.
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
	install install-only uninstall package test-desktops

all: build

deps:
	@scripts/install-deps

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

test: build
	@cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) -LE desktops $(CTEST_ARGS)

# Tide in the big desktops, end to end: KDE Plasma and GNOME Shell, each on X11 and on Wayland,
# headless. Installs those desktops first (about 500 packages), then runs one at a time.
# Configured again after the install: the Plasma test's pointer is built from a protocol that
# plasma-wayland-protocols, one of those packages, brings.
test-desktops: build
	@scripts/install-deps --desktops
	@cmake -S . -B $(BUILD) >/dev/null && cmake --build $(BUILD) -j $(JOBS)
	@cd $(BUILD) && ctest --output-on-failure -L desktops

# The peers the desktop figures are measured beside are installed first.
bench: build
	@scripts/install-deps --bench
	@scripts/run-bench $(BUILD)

# The panel in light and dark, the energy tab and the two gauge icons, as PNG files in ./snapshot/.
snapshot: build snapshot-only

snapshot-only:
	@mkdir -p snapshot
	@QT_QPA_PLATFORM=offscreen TL_SNAPSHOT="$(CURDIR)/snapshot" "$(TIDE_EXE)" 2>/dev/null
	@for f in panel-light panel-dark panel-energy icon-normal icon-critical; do \
	    [ -f "snapshot/$$f.png" ] && echo "$(CURDIR)/snapshot/$$f.png"; done; true

# Refreshes the pictures the README shows from a new snapshot.
readme-images: snapshot
	@mkdir -p docs
	@cp snapshot/panel-light.png snapshot/panel-dark.png docs/
	@echo "docs/panel-light.png docs/panel-dark.png updated"

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
package: build
	@cd $(BUILD) && cpack -G DEB >/dev/null
	@ls $(BUILD)/tide_*.deb

format:
	@clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	@rm -rf $(BUILD)
