# Varnel: the two commands of the README, and the developer targets.
#   make demo   builds the program and shows it at work on the sample release
#   make test   builds with warnings as errors and runs every test, plain and
#               under AddressSanitizer + UndefinedBehaviorSanitizer, and
#               varnel-cli.exe under wine
# Both install the Debian packages they need (as root), or say which to install:
# make demo only the light set, make test and make windows also the package
# checkers, the Windows cross compiler and wine.

# make's own "Entering directory" lines stay out of the programs' output.
MAKEFLAGS += --no-print-directory

JOBS    ?= 2
BUILD   ?= build
ASAN    ?= build-asan
WIN32   ?= build-win32
WIN64   ?= build-win64
FUZZ    ?= build-fuzz
CLI     := $(BUILD)/cli/varnel-cli
RELEASE := examples/release
FUZZ_SECONDS ?= 60

.PHONY: all deps deps-test build demo test lint shellcheck tidy format format-check test-plain test-package test-asan test-windows windows windows-package windows64 windows64-package package fuzz fuzz-smoke bench examples screenshots clean

all: build

deps:
	@scripts/bootstrap.sh demo

deps-test:
	@scripts/bootstrap.sh test

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j$(JOBS)

# The main job on a fresh simulated machine of its own (state kept in the
# build directory): the card as it is, the update with the sample release,
# and the firmware versions it leaves.
DEMO_STATE := $(abspath $(BUILD))/demo-state
DEMO_CLI   := XDG_STATE_HOME=$(DEMO_STATE) $(CLI) --machine $(DEMO_STATE)/machine

# The build's lines go to a log, shown only when the build fails: the screen
# holds the program's own words.
demo: deps
	@echo "Building varnel-cli (the build's output goes to $(BUILD)/demo-build.log) ..."
	@mkdir -p $(BUILD)
	@{ cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo && \
	   cmake --build $(BUILD) -j$(JOBS) --target varnel-cli; } >$(BUILD)/demo-build.log 2>&1 || \
	   { tail -n 40 $(BUILD)/demo-build.log; echo "The build failed: see $(BUILD)/demo-build.log"; exit 1; }
	@rm -rf $(DEMO_STATE)
	@$(DEMO_CLI) machine init --latency
	@echo; echo "== varnel-cli info"
	@$(DEMO_CLI) info
	@echo; echo "== varnel-cli update --yes --oem $(RELEASE)/OEMRelease.oem"
	@$(DEMO_CLI) update --yes --oem $(RELEASE)/OEMRelease.oem
	@echo; echo "== varnel-cli query firmware"
	@$(DEMO_CLI) query firmware

# The 32-bit Windows build: varnel-cli.exe and varnel.exe (static runtime),
# the simulated machine as the access library ZRW32N50.dll (a test fixture),
# the test program that drives varnel.exe's windows and the one that checks
# the runtime's wide-character imports.
windows: deps-test
	cmake -S . -B $(WIN32) -DCMAKE_TOOLCHAIN_FILE=cmake/i686-w64-mingw32.cmake -DCMAKE_BUILD_TYPE=Release
	cmake --build $(WIN32) -j$(JOBS) --target varnel-cli varnel varnel-gui-test varnel-runtime-compat-test varnel_sim_library varnel_sim_library_incomplete

# The Windows installer and zip: $(WIN32)/package/varnel-VERSION-setup.exe
# (NSIS) and varnel-VERSION-win32.zip.
windows-package: windows
	cmake --build $(WIN32) --target windows-package

# The same sources as 64-bit programs, with the simulated access library
# built 64-bit beside them and an installer of the same script: a test-only
# build for machines that cannot run 32-bit programs (wine64 runs it).
windows64: deps-test
	cmake -S . -B $(WIN64) -DCMAKE_TOOLCHAIN_FILE=cmake/x86_64-w64-mingw32.cmake -DCMAKE_BUILD_TYPE=Release
	cmake --build $(WIN64) -j$(JOBS) --target varnel-cli varnel varnel-gui-test varnel-runtime-compat-test varnel_sim_library varnel_sim_library_incomplete

windows64-package: windows64
	cmake --build $(WIN64) --target windows-package

# The fuzzers first over their seed corpora, so that the test runs close the output.
test: fuzz-smoke test-plain lint test-package test-asan test-windows

# The tree's own checks: shellcheck over the scripts (.shellcheckrc), the
# clang-tidy checks of .clang-tidy over the Linux build's sources, and the
# layout of .clang-format once the tree is formatted: the file
# .format-enforced turns that check on (make format, commit, then add it).
SHELL_SCRIPTS := $(sort $(wildcard scripts/*.sh bench/*.sh fuzz/*.sh tests/*/*.sh))
FORMAT_FILES   = $(shell git ls-files '*.cpp' '*.h' '*.c')
# The program's folders (the Windows-only sources are not in the Linux build).
TIDY_FILES    := '^$(CURDIR)/(platform|log|pda|image|card|sim|update|sample|ui|cli|tools)/'

lint: shellcheck tidy $(if $(wildcard .format-enforced),format-check)

shellcheck: deps-test
	shellcheck -x $(SHELL_SCRIPTS)

tidy: deps-test
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	run-clang-tidy -p $(BUILD) -j $(JOBS) -quiet -extra-arg=-Wno-unknown-warning-option $(TIDY_FILES) \
	  >$(BUILD)/clang-tidy.log 2>&1 || { grep -E -A3 'warning:|error:' $(BUILD)/clang-tidy.log; exit 1; }
	@echo "clang-tidy: no findings ($(BUILD)/clang-tidy.log)"

format: deps-test
	clang-format -i $(FORMAT_FILES)

format-check: deps-test
	@echo "clang-format --dry-run --Werror: the tree's C++ files"
	@clang-format --dry-run --Werror $(FORMAT_FILES)

# Its window tests run under Xvfb with openbox: the test set's packages.
test-plain: deps-test
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j$(JOBS)
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

# The Debian package, built and checked: lintian, the desktop entry, the
# AppStream data, and its programs, man pages and completion run unpacked.
test-package: test-plain deps-test
	scripts/check-package.sh $(BUILD)

test-asan: deps
	cmake -S . -B $(ASAN) -DCMAKE_BUILD_TYPE=Debug -DVARNEL_SANITIZE=ON
	cmake --build $(ASAN) -j$(JOBS)
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir $(ASAN) --output-on-failure -j$(JOBS)

# varnel-cli.exe and varnel.exe's windows under wine through the real
# loading path, compared with the Linux build's varnel-cli. The shipped
# 32-bit build is always checked without running it (tests/windows/static.sh);
# it runs under wine where this machine runs 32-bit programs, and otherwise
# the 64-bit test build runs the same checks under wine64. The last line says
# which ran.
test-windows: windows-package
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j$(JOBS) --target varnel-cli
	tests/windows/static.sh $(WIN32)
	@if tests/windows/runs_32_bit.sh; then \
	    tests/windows/run.sh $(WIN32) $(BUILD) && \
	    echo "Windows programs: 32-bit under wine"; \
	else \
	    $(MAKE) windows64-package && tests/windows/run.sh $(WIN64) $(BUILD) && \
	    echo "Windows programs: 64-bit test build under wine64; 32-bit build checked without running it"; \
	fi

# libFuzzer targets, built with clang under ASan + UBSan.
$(FUZZ)/.configured: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNEL_FUZZ=ON
	@touch $@

# Each fuzzer over its seed corpus only: a quick regression run.
fuzz-smoke: $(FUZZ)/.configured
	cmake --build $(FUZZ) -j$(JOBS)
	fuzz/run.sh $(FUZZ) 0

# Each fuzzer for FUZZ_SECONDS seconds.
fuzz: $(FUZZ)/.configured
	cmake --build $(FUZZ) -j$(JOBS)
	fuzz/run.sh $(FUZZ) $(FUZZ_SECONDS)

# The Debian package: $(BUILD)/package/varnel_VERSION-1_ARCH.deb
package: build
	cmake --build $(BUILD) --target package

bench: build deps-test
	bench/objcopy_ratio.sh $(BUILD)
	scripts/with-wm.sh bench/startup.sh $(BUILD)
	bench/history.sh $(BUILD)
	bench/firmware_backup.sh $(BUILD)
	bench/no_force.sh $(BUILD)
	$(BUILD)/bench/image_bench
	$(BUILD)/bench/program_bench

# The README's pictures of the desktop program, taken under Xvfb with
# openbox (frames included), and the application icon's PNGs; the Windows
# program's pictures under wine on Xvfb (docs/windows.md), and its icons
# from the same art (ui/win32/art, checked by a test).
# The Windows pictures come from the shipped 32-bit build where this machine
# runs 32-bit programs, else from the 64-bit test build (as make test does).
screenshots: build windows
	scripts/with-wm.sh $(BUILD)/tests/qt/varnel-screenshots docs ui/qt/art
	QT_SCALE_FACTOR=2 scripts/with-wm.sh $(BUILD)/tests/qt/varnel-screenshots docs/scale-2
	$(BUILD)/ui/qt/varnel-win32-icons ui/win32/art
	@if tests/windows/runs_32_bit.sh; then \
	    scripts/windows-screenshots.sh $(WIN32) $(BUILD) docs; \
	else \
	    $(MAKE) windows64 && scripts/windows-screenshots.sh $(WIN64) $(BUILD) docs && \
	    echo "Windows pictures: 64-bit test build under wine64"; \
	fi

# Regenerates the checked-in sample release.
examples: build
	$(BUILD)/tools/varnel-make-release $(RELEASE)

clean:
	rm -rf $(BUILD) $(ASAN) $(FUZZ) $(WIN32) $(WIN64)
