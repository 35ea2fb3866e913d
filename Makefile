# Set-up, build and test in one command each; see README.md.
JOBS ?= $(shell nproc)

.PHONY: demo test bench coverage install package reproducible deps-native deps-package deps-test deps-coverage release native tsan win32 win64 clean

# Each target installs what it needs, one set on top of another, so that
# `make -j` never runs two package installs at once.
deps-native:
	bash scripts/install-deps.sh native

# The Windows cross compilers: the Windows builds and the packages. No Wine.
deps-package: deps-native
	bash scripts/install-deps.sh package

# Everything the tests need: the test chroot's tools, and those the checks
# run. No Wine: that runs in the test chroot.
deps-test: deps-package
	bash scripts/install-deps.sh test

# The program users run and install; `native` is the test build.
release: deps-native
	cmake --preset release
	cmake --build --preset release -j $(JOBS)

native: deps-test
	cmake --preset native
	cmake --build --preset native -j $(JOBS)

# ThreadSanitizer, for the layers that start a second thread; its programs
# run from the native tree's tests.
tsan: deps-test
	cmake --preset tsan
	cmake --build --preset tsan -j $(JOBS)

win32: deps-package
	cmake --preset win32
	cmake --build --preset win32 -j $(JOBS)

win64: deps-package
	cmake --preset win64
	cmake --build --preset win64 -j $(JOBS)

# The demo needs only the program and the fake modem.
demo: deps-native
	cmake --preset release
	cmake --build --preset release -j $(JOBS) --target atcmd modemsim
	bash scripts/demo.sh build/release/bin

PREFIX ?= /usr/local
install: release
	DESTDIR="$(DESTDIR)" cmake --install build/release --prefix "$(PREFIX)"

# The Debian package, by dpkg-buildpackage from a copy of this tree, in
# build/ (atcmd_*.deb, .buildinfo, .changes); the Windows ZIP in
# build/release, whose tree is configured for packaging once the Windows
# programs are built: it checks they are there.
package: release win32 win64
	cmake --preset release -DATCMD_PACKAGING=ON
	cmake --build --preset release --target package
	JOBS=$(JOBS) bash scripts/debian-package.sh build

# Two clones of the last commit, each packaged, compare every shipped file
# (`make test` rebuilds one Windows build and the packages only). Each clone's
# `make package` installs what it needs.
reproducible: deps-native
	bash scripts/reproducible.sh

# The tests run the Windows programs, the release program and the
# ThreadSanitizer build too, so all five trees come first.
# The test chroot (scripts/testroot) is made, or found current, first: minutes
# on the first run, which no test's time limit should have to hold.
test: native release tsan win32 win64
	python3 scripts/testroot/testroot.py build
	python3 scripts/run-tests.py --preset native -j $(JOBS)

# Start-up, CPU time, flood throughput and peak memory against the fake
# modem, with a minimal C reader as the floor: a benchmark, not a test.
# Needs the release build.
bench: release
	python3 bench/bench.py --bin build/release/bin

# Line and branch coverage of the native test layers, per file and folder
# (gcov, build/coverage): a developer tool, not part of `make test`.
deps-coverage: deps-native
	bash scripts/install-deps.sh coverage

coverage: deps-coverage
	cmake --preset coverage
	cmake --build --preset coverage -j $(JOBS)
	python3 scripts/coverage.py build/coverage -j $(JOBS)

clean:
	rm -rf build
