# The two commands of the README, for a fresh Debian 12 machine (as root):
#   make test   installs what is missing, builds the three targets and runs
#               every test, natively (also under ASan/UBSan), under wine32
#               (where the kernel runs 32-bit code) and under wine64
#   make demo   installs what is missing, builds, and runs the main job on a
#               scratch store under ./demo-root
SHELL := /bin/bash
JOBS ?= $(shell nproc)
BUILD ?= build
PACKAGES := cmake make g++ libboost-dev googletest libgtest-dev libgmock-dev \
	libbenchmark-dev g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine64 \
	libcli11-dev nlohmann-json3-dev help2man pkg-config \
	nfs-ganesha nfs-ganesha-vfs libnfs-dev libfuse3-dev fuse3
# The x86 DLL's tests run under wine32 where the kernel runs 32-bit x86 code;
# elsewhere that build is checked by its export table alone.
X86_RUNS := $(shell /lib32/ld-linux.so.2 --version >/dev/null 2>&1 && echo yes)
ifeq ($(X86_RUNS),yes)
PACKAGES += wine32:i386
endif
CMAKE_FLAGS := -DCMAKE_BUILD_TYPE=RelWithDebInfo
WINE_PREFIX := $(abspath $(BUILD))/wineprefix
WINE_PREFIX32 := $(abspath $(BUILD))/wineprefix32

.PHONY: all deps native asan win64 win32 test test-native test-asan test-win64 test-win32 package demo bench \
	fuzz soak clean

all: native

# Missing packages install with service starts refused (policy-rc.d answers
# 101 meanwhile, and what was there before comes back): the NFS server of the
# NFS tests runs only inside those tests, never as a service.
deps:
	@missing=""; for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  if [ "$$(id -u)" != 0 ]; then echo "run as root to install packages" >&2; exit 1; fi; \
	  export DEBIAN_FRONTEND=noninteractive; \
	  guard=/usr/sbin/policy-rc.d; saved=""; \
	  if [ -e $$guard ]; then saved=$$(mktemp); cp -p $$guard $$saved; fi; \
	  restore() { if [ -n "$$saved" ]; then mv -f $$saved $$guard; else rm -f $$guard; fi; }; \
	  trap restore EXIT; \
	  printf '#!/bin/sh\nexit 101\n' >$$guard; chmod 755 $$guard; \
	  case "$$missing" in *:i386*) \
	    dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386;; esac; \
	  apt-get update -qq && apt-get install -y -qq --no-install-recommends $$missing >/dev/null; \
	fi

native: deps
	cmake -S . -B $(BUILD)/native $(CMAKE_FLAGS)
	cmake --build $(BUILD)/native -j$(JOBS)

asan: deps
	cmake -S . -B $(BUILD)/asan $(CMAKE_FLAGS) -DCLASSIC_SANITIZE=ON -DCLASSIC_TOOLS=ON
	cmake --build $(BUILD)/asan -j$(JOBS)

win64: deps
	cmake -S . -B $(BUILD)/win64 $(CMAKE_FLAGS) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
	  -DCLASSIC_WINE_PREFIX=$(WINE_PREFIX)
	cmake --build $(BUILD)/win64 -j$(JOBS)

win32: deps
	cmake -S . -B $(BUILD)/win32 $(CMAKE_FLAGS) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake \
	  -DCLASSIC_TESTS=$(if $(X86_RUNS),ON,OFF) -DCLASSIC_WINE_PREFIX=$(WINE_PREFIX32)
	cmake --build $(BUILD)/win32 -j$(JOBS)

# The NFS tests (tests/nfs) run where the share can be had; elsewhere one
# line says why they were skipped.
NFS_SKIPPED = grep -m1 -o 'NFS tests skipped: .*' Testing/Temporary/LastTest.log || true

test-native: native
	cd $(BUILD)/native && ctest --output-on-failure -j$(JOBS); status=$$?; $(NFS_SKIPPED); exit $$status

test-asan: asan
	cd $(BUILD)/asan && ctest --output-on-failure -j$(JOBS); status=$$?; $(NFS_SKIPPED); exit $$status

# The x86 tests share the prefix's C:\userroot and drives: they run one at a
# time, as the x64 ones do.
test-win32: win32
ifeq ($(X86_RUNS),yes)
	sh tests/wine/prefix.sh $(WINE_PREFIX32)
	cd $(BUILD)/win32 && ctest --output-on-failure; status=$$?; \
	  WINEPREFIX=$(WINE_PREFIX32) /usr/lib/wine/wineserver -k 2>/dev/null; exit $$status
else
	@echo "32-bit x86 programs do not run here (/lib32/ld-linux.so.2 --version fails): the x86 DLL is checked by its export table alone"
	cd $(BUILD)/win32 && ctest --output-on-failure
endif

test-win64: win64
	sh tests/wine/prefix.sh $(WINE_PREFIX)
	cd $(BUILD)/win64 && ctest --output-on-failure; status=$$?; \
	  WINEPREFIX=$(WINE_PREFIX) /usr/lib/wine/wineserver -k 2>/dev/null; exit $$status

test: deps
	$(MAKE) --no-print-directory test-native
	$(MAKE) --no-print-directory test-asan
	$(MAKE) --no-print-directory test-win32
	$(MAKE) --no-print-directory test-win64

# The Debian package of the native build and the zip of the x86 DLL, in
# $(BUILD)/packages.
package: native win32
	cd $(BUILD)/native && cpack -B $(abspath $(BUILD))/packages
	cd $(BUILD)/win32 && cpack -B $(abspath $(BUILD))/packages

# The session of tools/demo.sh on a fresh store root ./demo-root.
demo: native
	sh tools/demo.sh $(BUILD)/native/classic demo-root

# Every operation at 100 to 32,000 items, against SQLite in the same run
# (BENCH_ARGS, e.g. --sizes=100,1000 or --benchmark_filter=lookup).
bench: deps
	@$(MAKE) --no-print-directory deps PACKAGES="libsqlite3-dev"
	cmake -S . -B $(BUILD)/bench -DCMAKE_BUILD_TYPE=Release -DCLASSIC_BENCH=ON -DCLASSIC_TESTS=OFF -DCLASSIC_TOOLS=OFF
	cmake --build $(BUILD)/bench -j$(JOBS)
	$(BUILD)/bench/classic_bench $(BENCH_ARGS)

# A long soak: eight processes on one area, killed at random and started
# again, a check and repair after each kill; SOAK_OPS operations per process.
SOAK_OPS ?= 20000
SOAK_KILLS ?= 200
soak: native
	CLASSIC_SOAK_OPS=$(SOAK_OPS) CLASSIC_SOAK_KILLS=$(SOAK_KILLS) \
	  $(BUILD)/native/classic_tests --gtest_filter='SoakTest.*'

# Long fuzz runs with libFuzzer (clang): FUZZ_SECONDS per kind of input,
# new inputs kept in $(BUILD)/fuzz/corpus, the seeds in tests/fuzz/corpus.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := control data login log translation names
fuzz: deps
	@$(MAKE) --no-print-directory deps PACKAGES="clang libclang-rt-14-dev"
	cmake -S . -B $(BUILD)/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
	  -DCMAKE_CXX_COMPILER=clang++ -DCLASSIC_FUZZ=ON -DCLASSIC_TESTS=OFF -DCLASSIC_TOOLS=OFF
	cmake --build $(BUILD)/fuzz -j$(JOBS) $(addprefix --target fuzz_,$(FUZZ_TARGETS))
	@for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(BUILD)/fuzz/corpus/$$t; \
	  echo "fuzz $$t for $(FUZZ_SECONDS) s"; \
	  $(BUILD)/fuzz/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	    -artifact_prefix=$(BUILD)/fuzz/crash-$$t- $(BUILD)/fuzz/corpus/$$t tests/fuzz/corpus/$$t \
	    2>&1 | grep -E '^stat::number_of_executed_units|^stat::peak_rss|ERROR|SUMMARY|Done' || exit 1; \
	done

clean:
	rm -rf $(BUILD) demo-root
