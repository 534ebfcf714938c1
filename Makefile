# The two commands a newcomer needs: `make demo` and `make test`. Each installs
# the Debian packages it needs when run as root, or names them and stops.
BUILD ?= build
BUILD_PACKAGES := cmake ninja-build g++ libgtest-dev
JOBS ?= $(shell nproc)
VERSION := $(shell tools/project-version.sh)

.PHONY: all deps clang-deps build demo test test-clang test-sanitize check-install bench-smoke fuzz-build fuzz-smoke fuzz dist windows test-windows release check-reproducible check-signing check-debian lint clean

all: build

deps:
	@tools/ensure-packages.sh $(BUILD_PACKAGES)

# clang, then the sanitizer and libFuzzer runtime made for that very version.
clang-deps: deps
	@tools/ensure-packages.sh clang
	@tools/ensure-packages.sh $$(tools/clang-runtime-package.sh)

# Each build is configured by its preset in CMakePresets.json, the one place
# that says how.
build: deps
	cmake --preset tests -B $(BUILD)
	cmake --build $(BUILD) -j $(JOBS)

# Makes a sample theme with the project's own theme builder, lists it,
# unpacks it and shows what was written, then packs the folder back and lists
# the pack: the round trip.
demo: build
	rm -rf demo && mkdir demo
	$(BUILD)/tools/make_sample_theme demo/sample.ctf
	@echo "--- what unpacking demo/sample.ctf would write:"
	cd demo && ../$(BUILD)/themeunpack --list sample.ctf
	cd demo && ../$(BUILD)/themeunpack sample.ctf
	@echo "--- the tree unpacked into demo/sample_ctf:"
	@cd demo && find sample_ctf | sort
	@echo "--- demo/sample_ctf/theme info.txt:"
	@cat "demo/sample_ctf/theme info.txt"
	@echo "--- packed back, and what unpacking the pack would write:"
	cd demo && ../$(BUILD)/themepack sample_ctf
	cd demo && ../$(BUILD)/themeunpack --list sample_ctf.ctf

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-clang: clang-deps
	cmake --preset clang
	cmake --build build-clang -j $(JOBS)
	cd build-clang && ctest --output-on-failure -j $(JOBS)

test-sanitize: clang-deps
	cmake --preset sanitize
	cmake --build build-sanitize -j $(JOBS)
	cd build-sanitize && ctest --output-on-failure -j $(JOBS)

# Install into a staging directory, render the man page, build the .deb, run
# lintian on it, install and remove it, and build without GoogleTest.
check-install: build
	@tools/ensure-packages.sh man-db groff-base dpkg dpkg-dev lintian
	tools/check-install.sh $(BUILD)

# The benchmark on its smallest profile, once: it must run and every tool must
# leave the same tree. Data go to a temporary directory. An option where the
# data directory belongs is refused (status 2) before anything is made.
bench-smoke: build
	@tools/ensure-packages.sh tar libarchive-tools
	cmake -S . -B $(BUILD) -DTHEMEUNPACK_BENCH=ON
	cmake --build $(BUILD) -j $(JOBS)
	bench=$$(cd $(BUILD) && pwd)/bench/themeunpack_bench && \
	data=$$(mktemp -d) && trap 'rm -rf "$$data"' EXIT && cd "$$data" && \
	  "$$bench" --help >/dev/null && \
	  { "$$bench" --rounds 1 small 2>/dev/null; test $$? -eq 2; } && \
	  test -z "$$(ls -A)" && \
	  "$$bench" "$$data" --rounds 1 small

# The fuzz target writes a scratch tree per input; tmpfs makes that cheap.
FUZZ_TMP ?= $(shell [ -d /dev/shm ] && echo /dev/shm || echo /tmp)
FUZZ_CORPUS ?= build-fuzz/corpus
FUZZ_RUNS ?= 200000
FUZZ_JOBS ?= $(JOBS)

fuzz-build: clang-deps
	CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DTHEMEUNPACK_WERROR=ON \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTHEMEUNPACK_FUZZ=ON -DBUILD_TESTING=OFF
	cmake --build build-fuzz -j $(JOBS)
	mkdir -p $(FUZZ_CORPUS)
	build-fuzz/fuzz/make_fuzz_seeds $(FUZZ_CORPUS)

# A bounded, deterministic run from the seeds, as CI does it.
fuzz-smoke: fuzz-build
	TMPDIR=$(FUZZ_TMP) build-fuzz/fuzz/fuzz_unpack -seed=1 -runs=$(FUZZ_RUNS) \
	  -artifact_prefix=build-fuzz/ $(FUZZ_CORPUS)

# A longer run on every core: make fuzz FUZZ_SECONDS=3600. Inputs of up to 1 KiB
# hold a header and a dozen records, enough for every path through the tool, and
# run about three times as fast as 4 KiB ones.
FUZZ_SECONDS ?= 600
FUZZ_MAX_LEN ?= 1024
fuzz: fuzz-build
	cd build-fuzz && TMPDIR=$(FUZZ_TMP) ./fuzz/fuzz_unpack -jobs=$(FUZZ_JOBS) \
	  -workers=$(FUZZ_JOBS) -max_total_time=$(FUZZ_SECONDS) \
	  -max_len=$(FUZZ_MAX_LEN) -artifact_prefix=./ "$$(cd "$(FUZZ_CORPUS)" && pwd)"

# The native Windows build, cross-compiled with MinGW-w64 and linked
# statically, packed as themeunpack-VERSION-windows-x86_64.zip in
# $(WINDOWS_BUILD); and its end-to-end tests, run under Wine.
WINDOWS_BUILD ?= build-windows
WINDOWS_EXE := $(WINDOWS_BUILD)/themeunpack.exe

windows:
	@tools/ensure-packages.sh cmake ninja-build g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 zip
	cmake --preset windows -B $(WINDOWS_BUILD)
	cmake --build $(WINDOWS_BUILD) -j $(JOBS)
	tools/pack-windows.sh $(WINDOWS_BUILD) $(VERSION)

# Wine's server is kept running for the whole test run, so that each run of
# the tool takes milliseconds rather than seconds; on a fresh machine the Wine
# prefix is made first, and that server left to end. Its background services
# start with the first program it runs; that run's output is discarded, since
# the services would otherwise hold the first test's pipe open.
test-windows: windows build
	@tools/ensure-packages.sh wine wine64
	export WINEDEBUG=-all; wineboot --init > /dev/null 2>&1 < /dev/null; \
	  wineserver -w; wineserver -p && \
	  { wine "$(WINDOWS_EXE)" > /dev/null 2>&1 < /dev/null || true; } && \
	  THEMEUNPACK_TEST_EXECUTABLE="$$(cd "$(WINDOWS_BUILD)" && pwd)/themeunpack.exe" \
	  THEMEPACK_TEST_EXECUTABLE="$$(cd "$(WINDOWS_BUILD)" && pwd)/themepack.exe" \
	  THEMEUNPACK_TEST_LAUNCHER=wine \
	  $(BUILD)/tests/themeunpack_tests --gtest_filter='$(WINE_TESTS)'; \
	  status=$$?; wineserver -k; exit $$status

# The end-to-end tests that hold on Windows as they stand (those that do not
# skip themselves there, saying why), and the Windows build's own tests.
WINE_TESTS := UnpackRun.*:Usage.*:RejectedThemeFile.*:ThemeDirectory.*:InjectedFailure.PatchDirectoryBlockedByAFile:HostileTree.TheThemeFileIsNeverAnOutput:RoundTrip.TheSampleThemeComesBackWhole:Windows*

# The source tarball, made from the committed tree (what HEAD holds, nothing
# uncommitted): themeunpack-VERSION.tar.gz, the same bytes as the release's.
dist:
	tools/source-tarball.sh themeunpack-$(VERSION).tar.gz
	@echo "made themeunpack-$(VERSION).tar.gz"

# The release of the commit checked out, in $(RELEASE_DIR): the .deb, the
# source tarball, the Windows zip and SHA256SUMS, the same bytes for anyone
# who builds that commit. check-reproducible builds it twice, from two clones
# in different folders under umasks 022 and 077, and compares every byte;
# it also runs lintian --pedantic on the package built under umask 077.
RELEASE_DIR ?= release
RELEASE_PACKAGES := cmake ninja-build g++ git dpkg dpkg-dev tar gzip zip \
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64

# SIGN=KEYID also signs SHA256SUMS with that gpg key (SHA256SUMS.asc);
# WINSIGN=PFX WINSIGN_PASS=FILE signs the Windows executables with
# Authenticode, the certificate's password read from FILE.
release:
	@tools/ensure-packages.sh $(RELEASE_PACKAGES) $(if $(SIGN),gnupg) $(if $(WINSIGN),osslsigncode)
	SIGN="$(SIGN)" WINSIGN="$(WINSIGN)" WINSIGN_PASS="$(WINSIGN_PASS)" \
	  tools/release.sh "$(RELEASE_DIR)"

# Signs a SHA256SUMS with a throwaway key, and the Windows executables with a
# throwaway certificate, and checks that each signature verifies, and fails
# once what it signs is changed.
check-signing: windows
	@tools/ensure-packages.sh gnupg openssl osslsigncode unzip
	tools/check-signing.sh $(WINDOWS_BUILD)

check-reproducible:
	@tools/ensure-packages.sh $(RELEASE_PACKAGES) lintian
	tools/check-reproducible.sh

# The Debian source package in debian/: built by dpkg-buildpackage from the
# source tarball, lintian --pedantic silent on both packages, and (as root)
# its autopkgtest run against the package on this machine.
check-debian:
	@tools/ensure-packages.sh cmake ninja-build g++ libgtest-dev git dpkg-dev \
	  debhelper lintian autopkgtest
	tools/check-debian.sh

# NEWS.md as debian/changelog, under the maintainer CMakeLists.txt names:
# run after editing NEWS.md (check-debian fails until it is).
debian/changelog: NEWS.md
	tools/debian-changelog.sh NEWS.md \
	  "$$(sed -n 's/^set(MAINTAINER "\(.*\)")$$/\1/p' CMakeLists.txt)" $@

# Fails on C++ that clang-format would change, on a shell script shellcheck
# warns of (an unquoted path, say), and on trailing whitespace in any text
# file of the project, committed or not (untracked files too, unless
# .gitignore leaves them out), so a new file is checked before it is added.
lint:
	@tools/ensure-packages.sh clang-format git shellcheck
	git ls-files -z --cached --others --exclude-standard '*.cpp' '*.h' | \
	  xargs -0 clang-format --dry-run -Werror
	git ls-files -z --cached --others --exclude-standard '*.sh' .ci/run debian/tests/unpack-and-pack | \
	  xargs -0 shellcheck -S info
	@if git grep -nI --untracked -E '[[:blank:]]+$$'; then \
	  echo "trailing whitespace on the lines above" >&2; exit 1; fi

clean:
	rm -rf build build-install build-clang build-sanitize build-fuzz build-windows build-release demo release themeunpack-*.tar.gz
