# Thin wrapper around CMake presets: `make run` and `make test` are the README's commands.
PRESET ?= dev
BUILD_DIR = build/$(PRESET)

.PHONY: deps configure build run test format clean

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

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build
