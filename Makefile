# Front door. `make` builds the host programs; `make test` sets up what this
# machine lacks, builds every preset and runs the whole suite (what CI runs).
#   make test ARCH=host     host build and its sanitizer build only
#   make test ARCH=armhf    the device build only, tests under qemu-arm
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
SETUP_FOR := build test lint $(if $(filter armhf,$(PRESETS)),armhf)
PROGRAMS := holdSentry apStarter macPrint silencePlayer

.PHONY: all build test setup size lint bench clean FORCE

all: build

build:
	@scripts/setup build
	@$(MAKE) --no-print-directory build-host

setup:
	@scripts/setup $(SETUP_FOR)

# Pattern rules do not apply to .PHONY targets, hence FORCE.
build-%: FORCE
	@test -f build/$*/build.ninja || cmake --preset $*
	cmake --build --preset $*

test-%: build-% FORCE
	ctest --preset $*

test: setup
	@scripts/lint
	@$(MAKE) --no-print-directory $(addprefix build-,$(PRESETS)) $(addprefix test-,$(PRESETS))

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

# The virtual device (needs root): `make demo` shows the whole system working,
# `make device-shell` is a shell inside it. ARCH=armhf runs the ARM programs.
DEMO_ARCH := $(if $(filter armhf,$(ARCH)),armhf,host)
.PHONY: demo device-shell
demo:
	@demo/run-demo --arch $(DEMO_ARCH)
device-shell:
	@demo/run-demo --arch $(DEMO_ARCH) --shell
