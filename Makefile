# The two commands a newcomer needs: `make demo` and `make test`. Each installs
# the Debian packages it needs when run as root, or names them and stops.
BUILD ?= build
BUILD_PACKAGES := cmake ninja-build g++ libgtest-dev
CLANG_PACKAGES := clang libclang-rt-14-dev
JOBS ?= $(shell nproc)

.PHONY: all deps build demo test test-clang test-sanitize clean

all: build

deps:
	@tools/ensure-packages.sh $(BUILD_PACKAGES)

build: deps
	cmake -S . -B $(BUILD) -G Ninja -DTHEMEUNPACK_WERROR=ON
	cmake --build $(BUILD) -j $(JOBS)

# Makes a sample theme with the project's own theme builder, unpacks it, and
# shows what was written.
demo: build
	rm -rf demo && mkdir demo
	$(BUILD)/tools/make_sample_theme demo/sample.ctf
	cd demo && ../$(BUILD)/themeunpack sample.ctf
	@echo "--- the tree unpacked into demo/sample_ctf:"
	@cd demo && find sample_ctf | sort
	@echo "--- demo/sample_ctf/theme info.txt:"
	@cat "demo/sample_ctf/theme info.txt"

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-clang:
	@tools/ensure-packages.sh $(BUILD_PACKAGES) $(CLANG_PACKAGES)
	CXX=clang++ cmake -S . -B build-clang -G Ninja -DTHEMEUNPACK_WERROR=ON
	cmake --build build-clang -j $(JOBS)
	cd build-clang && ctest --output-on-failure -j $(JOBS)

test-sanitize:
	@tools/ensure-packages.sh $(BUILD_PACKAGES) $(CLANG_PACKAGES)
	CXX=clang++ cmake -S . -B build-sanitize -G Ninja -DTHEMEUNPACK_WERROR=ON \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTHEMEUNPACK_SANITIZE=ON
	cmake --build build-sanitize -j $(JOBS)
	cd build-sanitize && ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf build build-clang build-sanitize demo
