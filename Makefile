# Set-up, build and test in one command each; see README.md.
JOBS ?= $(shell nproc)

.PHONY: demo test deps-native deps-win32 native win32 clean

deps-native:
	bash scripts/install-deps.sh native

deps-win32:
	bash scripts/install-deps.sh win32

native: deps-native
	cmake --preset native
	cmake --build --preset native -j $(JOBS)

win32: deps-win32
	cmake --preset win32
	cmake --build --preset win32 -j $(JOBS)

# The demo needs only the program and the fake modem.
demo: deps-native
	cmake --preset native
	cmake --build --preset native -j $(JOBS) --target atcmd modemsim
	bash scripts/demo.sh build/native/bin

# The Windows build comes first: configuring the native tree registers the
# Wine scenarios for the .exe it finds.
test: win32 native
	ctest --preset native -j $(JOBS)

clean:
	rm -rf build
