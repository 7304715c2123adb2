# Entry points for newcomers and scripts; CMake does the work.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

.PHONY: all build run test clean

all: build

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

# Runs kinstrom on the bundled example in run/ (a copy of examples/), with its summary and
# report, and again in run/renumbered/ with renumbered IDs and without breed proportions.
run: build
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

clean:
	rm -rf $(BUILD) run
