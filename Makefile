# Entry points for newcomers and scripts; CMake does the work.
MAKEFLAGS += --no-print-directory
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=
PREFIX ?= /usr/local

.PHONY: all setup setup-tests configure configure-tests build program run test install package \
	clean

all: build

# What the build needs, and for the tests what they need besides: tools/setup.sh installs what
# this machine lacks (or says how, where it cannot; KINSTROM_NO_INSTALL=1 installs nothing).
setup:
	bash tools/setup.sh program
setup-tests:
	bash tools/setup.sh program tests

# The program's build configured without the tests (no test framework needed), or with them.
configure: setup
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DKINSTROM_TESTS=OFF $(CMAKE_FLAGS)
configure-tests: setup-tests
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DKINSTROM_TESTS=ON $(CMAKE_FLAGS)

# Everything: the program, its libraries and the tests.
build: configure-tests
	cmake --build $(BUILD) -j $(JOBS)

# The program alone (build/kinstrom), without the tests.
program: configure
	cmake --build $(BUILD) --target kinstrom -j $(JOBS)

# Runs kinstrom on the bundled example in run/ (a copy of examples/), with its summary and
# report, and again in run/renumbered/ with renumbered IDs and without breed proportions.
run: program
	rm -rf run && mkdir -p run/renumbered && cp examples/*.txt run/ && cp examples/*.txt run/renumbered/
	cp examples/directives run/ && cp examples/directives-renumbered run/renumbered/directives
	cd run/renumbered && ../../$(BUILD)/kinstrom < directives > listing.txt; \
	  echo "renumbered run: exit status $$?, listing and files in run/renumbered/"
	cd run && ../$(BUILD)/kinstrom --summary summary.json --report report.html < directives \
	  > listing.txt; status=$$?; \
	  echo "kinstrom exited with status $$status"; \
	  echo "listing: run/listing.txt"; echo "files:"; ls -1p . | grep -v / | sed 's/^/  run\//'; \
	  echo "open run/report.html in a web browser; run/summary.json is the run summary"; \
	  exit $$status

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# PREFIX/bin/kinstrom, its manual page PREFIX/share/man/man1/kinstrom.1 and the summary's
# schema PREFIX/share/kinstrom/summary.schema.json.
install: program
	cmake --install $(BUILD) --prefix $(PREFIX)

# A Debian package of the same files under /usr: $(BUILD)/kinstrom_VERSION_ARCH.deb.
package: program
	cd $(BUILD) && cpack -G DEB

clean:
	rm -rf $(BUILD) run
