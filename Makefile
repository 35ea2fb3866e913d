# Set-up, build and test in one command each; see README.md.
JOBS ?= $(shell nproc)

.PHONY: demo test deps-native deps-test native win32 win64 clean

deps-native:
	bash scripts/install-deps.sh native

# Everything the tests need, in one install so that `make -j` never runs
# two package installs at once.
deps-test:
	bash scripts/install-deps.sh test

native: deps-test
	cmake --preset native
	cmake --build --preset native -j $(JOBS)

win32: deps-test
	cmake --preset win32
	cmake --build --preset win32 -j $(JOBS)

win64: deps-test
	cmake --preset win64
	cmake --build --preset win64 -j $(JOBS)

# The demo needs only the program and the fake modem.
demo: deps-native
	cmake --preset native
	cmake --build --preset native -j $(JOBS) --target atcmd modemsim
	bash scripts/demo.sh build/native/bin

# The tests run the Windows programs too, so all three trees come first.
test: native win32 win64
	python3 scripts/run-tests.py --preset native -j $(JOBS)

clean:
	rm -rf build
