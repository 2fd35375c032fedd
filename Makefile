# The two commands of the README: `make test` and `make run`.
# Both install what is missing first (Debian packages, through sudo when not root).

JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_QUIET = -DCMAKE_BUILD_TYPE=Release --log-level=WARNING

.PHONY: test run deps host win32 build clean

test: build
	@tools/run-tests.sh

run: win32
	@tools/run-vantrel.sh

build: host win32 clang aarch64 s390x

deps:
	@tools/install-deps.sh

host: deps
	@cmake -S . -B build/host $(CMAKE_QUIET)
	@cmake --build build/host -j $(JOBS)

win32: deps
	@cmake -S . -B build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake $(CMAKE_QUIET)
	@cmake --build build/win32 -j $(JOBS)

# The portable part (engine, run layer, vantrel-cli, their tests) by Clang,
# and for other machines, whose programs run under QEMU's emulators.
.PHONY: clang aarch64 s390x
clang: deps
	@cmake -S . -B build/clang -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ $(CMAKE_QUIET)
	@cmake --build build/clang -j $(JOBS)

aarch64 s390x: deps
	@cmake -S . -B build/$@ -DCMAKE_TOOLCHAIN_FILE=cmake/$@-linux-gnu.cmake $(CMAKE_QUIET)
	@cmake --build build/$@ -j $(JOBS)

clean:
	rm -rf build dist

# The release: `make dist` packs what a user downloads into dist/ (the
# Windows zip, the Debian package of vantrel-cli, SHA256SUMS); `make install`
# installs vantrel-cli with the same files as the package, under PREFIX.
PREFIX ?= /usr/local
.PHONY: dist install

dist: build
	@tools/make-dist.sh

# A tree already configured is only brought up to date, not configured again:
# `sudo make install` after `make` leaves the build tree its owner's.
install:
	@[ -f build/host/CMakeCache.txt ] || $(MAKE) --no-print-directory host
	@cmake --build build/host -j $(JOBS)
	@cmake --install build/host --prefix "$(PREFIX)" --strip
