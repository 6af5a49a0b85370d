# Front door. `make` builds the host programs; `make test` sets up what this
# machine lacks, builds every preset and runs the whole suite (what CI runs).
#   make test ARCH=host     host build and its sanitizer build only
#   make test ARCH=armhf    the device build only: tests under qemu-arm, then on
#                           the ARM virtual device (label vm, docs/virtual-device.md)
#   make size               stripped sizes and needed libraries of the device build
#   make lint               clang-tidy, cppcheck and clang-format (part of make test)
#   make bench              measures everything in docs/performance.md and rewrites it

ARCH ?= all
ifeq ($(ARCH),all)
PRESETS := host sanitize armhf
else ifeq ($(ARCH),host)
PRESETS := host sanitize
else ifeq ($(ARCH),armhf)
PRESETS := armhf
else
$(error ARCH must be host, armhf or all)
endif
# Whatever make runs keeps its temporary files in the build tree.
export TMPDIR := $(CURDIR)/build/tmp
$(shell mkdir -p build/tmp)

SETUP_FOR := build test lint $(if $(filter armhf,$(PRESETS)),armhf vm) $(if $(filter host,$(PRESETS)),fuzz robust)
PROGRAMS := holdSentry apStarter macPrint silencePlayer

.PHONY: all build test setup size lint bench clean FORCE

all: build

build:
	@scripts/setup build
	@$(MAKE) --no-print-directory build-host

setup:
	@scripts/setup $(SETUP_FOR)

# Pattern rules do not apply to .PHONY targets, hence FORCE. A build folder
# configured before the presets last changed takes their settings again.
build-%: FORCE
	@test build/$*/build.ninja -nt CMakePresets.json || cmake --preset $*
	cmake --build --preset $*

# ctest --preset PRESET, then the tests that could not run here (status 77),
# each with the reason from its "SKIP: reason" line.
ctest_listing_skips = status=0; ctest --preset $(1) || status=$$?; \
	awk '/^[0-9]+\/[0-9]+ Test: / { t = $$3 } /^SKIP: / { print "skipped: " t ": " substr($$0, 7) }' \
		build/$(2)/Testing/Temporary/LastTest.log; exit $$status

test-%: build-% FORCE
	@$(call ctest_listing_skips,$*,$*)

test: setup
	@scripts/lint
	@$(MAKE) --no-print-directory $(addprefix build-,$(PRESETS)) $(addprefix test-,$(PRESETS))
	@$(if $(filter armhf,$(PRESETS)),$(call ctest_listing_skips,vm,armhf))
	@$(if $(filter host,$(PRESETS)),scripts/fuzz 30)
	@$(if $(filter host,$(PRESETS)),scripts/crash-sweep)

size:
	@scripts/setup build armhf
	@$(MAKE) --no-print-directory build-armhf
	@scripts/binary-report --strip arm-linux-gnueabihf-strip $(addprefix build/armhf/bin/,$(PROGRAMS))

lint:
	@scripts/setup build lint
	@scripts/lint

bench:
	@scripts/setup build test armhf bench
	@bench/run

clean:
	rm -rf build

FORCE:

# Debian packages of the host (amd64) and device (armhf) builds in build/packages/
# (docs/integration.md). Look inside with dpkg-deb -I / -c; do not install here.
.PHONY: packages
packages:
	@scripts/setup build armhf
	@$(MAKE) --no-print-directory build-host build-armhf
	rm -rf build/packages
	cpack --config build/host/CPackConfig.cmake -B build/packages
	cpack --config build/armhf/CPackConfig.cmake -B build/packages
	rm -rf build/packages/_CPack_Packages
	@ls -l build/packages

# The virtual device: `make demo` runs the story on the ARM virtual device (a
# real ARM kernel under qemu, the device packages installed with dpkg), `make
# device-shell` is a shell on it (docs/virtual-device.md). The fast option,
# the same story in the project's sandbox on this machine's kernel:
# `make demo-sandbox`, `make device-shell-sandbox`; ARCH=armhf there runs the
# ARM programs under qemu-arm.
DEMO_ARCH := $(if $(filter armhf,$(ARCH)),armhf,host)
.PHONY: demo device-shell demo-sandbox device-shell-sandbox vm-packages
vm-packages:
	@scripts/setup build armhf vm
	@$(MAKE) --no-print-directory build-armhf
	@vm/packages build/armhf >/dev/null
demo: vm-packages
	@demo/vm-demo build/armhf/vm-packages
device-shell: vm-packages
	@demo/vm-demo --shell build/armhf/vm-packages
demo-sandbox:
	@demo/run-demo --arch $(DEMO_ARCH)
device-shell-sandbox:
	@demo/run-demo --arch $(DEMO_ARCH) --shell

# Robustness evidence (docs/robustness.md). `make test` runs the fuzzers for 30 s
# and the crash sweep.
#   make fuzz [FUZZ_SECONDS=60]  libFuzzer on the key-value library, both targets at once
#   make crash-sweep             SIGKILL holdSentry at each file system call of a reset
#   make soak [SOAK_SECONDS=60]  button noise and short presses: no reset, no growth
#   make valgrind                memcheck over the unit tests and the programs' runs
FUZZ_SECONDS ?= 60
.PHONY: fuzz crash-sweep soak valgrind robust-setup
fuzz:
	@scripts/setup fuzz
	scripts/fuzz $(FUZZ_SECONDS)

robust-setup: build
	@scripts/setup test robust

crash-sweep: robust-setup
	scripts/crash-sweep

soak: robust-setup
	SOAK_SECONDS=$(or $(SOAK_SECONDS),60) tests/sandbox/sandbox --bin build/host/bin -- tests/system/soak.sh

valgrind: robust-setup
	scripts/valgrind
