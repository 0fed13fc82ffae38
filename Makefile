# Thin wrapper around CMake presets: `make run` and `make test` are the README's commands.
PRESET ?= dev
BUILD_DIR = build/$(PRESET)

.PHONY: deps configure build run test install package fuzz format clean

deps:
	./scripts/install-deps

configure: deps
	cmake --preset $(PRESET)

build: configure
	cmake --build --preset $(PRESET)

run: build
	$(BUILD_DIR)/pulsaro

test: build
	ctest --preset $(PRESET)

# `make install PREFIX=/some/where` (default /usr/local; DESTDIR is honoured):
# an optimised build in build/release, installed under PREFIX.
PREFIX ?= /usr/local
RELEASE_DIR = build/release

install: deps
	cmake --preset release -DCMAKE_INSTALL_PREFIX=$(PREFIX)
	cmake --build --preset release
	DESTDIR=$(DESTDIR) cmake --install $(RELEASE_DIR)

# `make package`: the Debian package pulsaro_<version>_<arch>.deb in build/release.
# SOURCE_DATE_EPOCH (by default the time of the last commit) dates the program
# and every file in the package, so two builds of one commit are the same bytes;
# cpack takes the modes of the package's own members from the umask.
package: export SOURCE_DATE_EPOCH ?= $(or $(shell git log -1 --format=%ct 2>/dev/null),$(shell date +%s))
package: deps
	cmake --preset release -DCMAKE_INSTALL_PREFIX=/usr
	cmake --build --preset release
	cd $(RELEASE_DIR) && umask 022 && cpack -G DEB
	@ls -1t $(CURDIR)/$(RELEASE_DIR)/pulsaro_*.deb | head -n 1

# `make fuzz FUZZ_SECONDS=20`: builds the libFuzzer targets of tests/fuzz with
# clang in build/fuzz and runs each that many seconds on a copy of its corpus.
FUZZ_SECONDS ?= 20

fuzz: deps
	FUZZ_SECONDS=$(FUZZ_SECONDS) tests/fuzz/run.sh

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build
