# Front door. `make` builds the host programs; `make test` sets up what this
# machine lacks, builds every preset and runs the whole suite (what CI runs).
#   make test ARCH=host     one architecture only

ARCH ?= all
ifeq ($(ARCH),all)
PRESETS := host sanitize
else ifeq ($(ARCH),host)
PRESETS := host sanitize
else
$(error ARCH must be host or all)
endif
SETUP_FOR := build test

.PHONY: all build test setup setup-build clean FORCE

all: build

build: setup-build build-host

setup-build:
	@scripts/setup build

setup:
	@scripts/setup $(SETUP_FOR)

# Pattern rules do not apply to .PHONY targets, hence FORCE.
build-%: FORCE
	@test -f build/$*/build.ninja || cmake --preset $*
	cmake --build --preset $*

test-%: build-% FORCE
	ctest --preset $*

FORCE:

test: setup $(addprefix build-,$(PRESETS)) $(addprefix test-,$(PRESETS))

clean:
	rm -rf build
