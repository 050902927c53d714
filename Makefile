# The two commands: `make run` and `make test`. Both install what is missing.
SHELL := /bin/bash
PRESETS := win32 win64 host

.PHONY: setup run test test-i686 test-wine10 build bench bench-recording fuzz format pictures clean $(addprefix build-,$(PRESETS))

setup:
	@scripts/setup.sh

# A static pattern rule: make looks for no implicit rule for phony targets.
$(addprefix build-,$(PRESETS)): build-%: setup
	@cmake --preset $* >/dev/null
	@cmake --build --preset $*

build: $(addprefix build-,$(PRESETS))

run: build-win64
	@scripts/run.sh build/win64

test: build
	@scripts/test.sh

# The 32-bit build's tests alone, under 32-bit Wine in an i386 root.
test-i686: build-win32
	@scripts/test-i686.sh

# The display-scaling tests alone, under Wine 10 in a trixie root.
test-wine10: build-win64
	@scripts/test-wine10.sh

bench: setup
	@scripts/bench.sh

bench-recording: build-win64
	@scripts/bench-recording.sh build/win64

fuzz: setup
	@scripts/fuzz.sh

format: setup
	@scripts/format.sh

# The README's pictures, taken again from real runs.
pictures: build-win64
	@scripts/readme-pictures.sh build/win64

clean:
	@for s in build/*/wine-session build/*/wine-session-*; do \
	  [ -d "$$s" ] || continue; \
	  name=$${s##*/wine-session}; SKELBY_WINE_SESSION=$${name#-} scripts/wine-session.sh stop "$${s%/*}"; \
	done; true
	rm -rf build
