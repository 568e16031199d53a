# Operator entry points: `make run` and `make test` do everything on a fresh Debian machine.
BUILD ?= build
SANITIZE ?=
JOBS ?= $(shell nproc)
# Most end-to-end tests wait on sockets and timers, so more of them than cores run side by side.
TEST_JOBS ?= $(shell echo $$(( $(JOBS) * 3 )))

.PHONY: all deps configure build run test fuzz deb docs clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja -DORVEX_SANITIZE=$(SANITIZE) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# Only the programs the demo runs: the test programs are left for `make test`.
run: configure
	@cmake --build $(BUILD) -j $(JOBS) --target orvex orvex-passwd orvex-keys
	@scripts/run-demo $(BUILD)

# The suppressions matter only to a thread-sanitizer build.
test: build
	@cd $(BUILD) && TSAN_OPTIONS="suppressions=$(CURDIR)/tests/tsan.supp $(TSAN_OPTIONS)" \
		ctest --output-on-failure -j $(TEST_JOBS) --timeout 600

# The Debian package of the programs built here, in $(BUILD)/deb.
deb: configure
	@cmake --build $(BUILD) -j $(JOBS) --target orvex vantor orvex-passwd orvex-keys
	@scripts/make-deb $(BUILD)

# The SITE command table of doc/site-commands.md, from the command table and the help files.
docs: configure
	@cmake --build $(BUILD) -j $(JOBS) --target orvex-docgen
	@scripts/make-docs $(BUILD)

fuzz: deps
	@scripts/run-fuzzers

clean:
	rm -rf $(BUILD) build-fuzz
