# Two everyday commands: `make play` and `make test`. Both install what the build needs first.
# Shipping: `make install PREFIX=DIR` and `make deb` (the Debian package in $(DEB)/).
JOBS   ?= $(shell nproc 2>/dev/null || echo 2)
BUILD  ?= build
ASAN   ?= build-asan
CORE   ?= build-core
FUZZ   ?= build-fuzz
# Seconds of mutation per harness in `make test`; `make fuzz` builds them for longer runs.
FUZZ_SECONDS ?= 40
WINDOWS ?= build-windows
DEB    ?= build-deb
DEMO   ?= examples/demo.qvm
PREFIX ?= /usr/local
# What is installed and packaged: the programs and the manual pages.
SHIPPED := qvbp qvbrender qvbplay qvbgb qvblsp man
WEB    ?= build-web
PORT   ?= 8000
# Debian's emscripten runs its JavaScript optimizer with the node on the PATH,
# which finds Debian's node modules (acorn) only when told where they are.
EMENV  := NODE_PATH=/usr/share/nodejs

.PHONY: all deps deps-web build play install deb test test-normal test-core test-asan test-fuzz test-web web web-serve bench fuzz clean deps-windows windows windows-zip test-windows

all: build

# The package check runs once per build folder (and again when the list of
# packages changes), not on every build.
deps: $(BUILD)/.deps-installed
$(BUILD)/.deps-installed: scripts/install-deps.sh
	@sh scripts/install-deps.sh
	@mkdir -p $(BUILD) && touch $@

deps-web: $(WEB)/.deps-installed
$(WEB)/.deps-installed: scripts/install-deps.sh
	@sh scripts/install-deps.sh web
	@mkdir -p $(WEB) && touch $@

# Development and CI builds treat warnings as errors; a plain cmake does not.
$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQVBP_WERROR=ON

$(ASAN)/CMakeCache.txt:
	cmake -S . -B $(ASAN) -DCMAKE_BUILD_TYPE=Debug -DQVBP_SANITIZE=ON -DQVBP_WERROR=ON

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

# Only what playing needs: no tests, no benchmarks.
play: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target qvbplay
	@./$(BUILD)/qvbplay $(DEMO)

install: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target $(SHIPPED)
	cmake --install $(BUILD) --prefix "$(PREFIX)"

# $(DEB)/qvbp_VERSION_ARCH.deb, from a build folder of its own made with
# Debian's flags (dpkg-buildflags, all hardening on). The binaries do not
# depend on where the checkout lies: the checkout's path is mapped to "."
# by CMake (QVBP_RELATIVE_SOURCE_PATHS) rather than by dpkg-buildflags, whose
# -ffile-prefix-map would split at a space in that path. Its dates are those
# of the last commit (asked for here, as the build folder may be outside the
# checkout) or SOURCE_DATE_EPOCH, so the same sources give the same bytes.
$(DEB)/CMakeCache.txt:
	export DEB_BUILD_MAINT_OPTIONS="hardening=+all reproducible=-fixfilepath,-fixdebugpath"; \
	CXXFLAGS="$$(dpkg-buildflags --get CPPFLAGS) $$(dpkg-buildflags --get CXXFLAGS)" \
	LDFLAGS="$$(dpkg-buildflags --get LDFLAGS)" \
	cmake -S . -B $(DEB) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQVBP_WERROR=ON -DQVBP_TESTS=OFF -DQVBP_BENCH=OFF \
		-DQVBP_RELATIVE_SOURCE_PATHS=ON -DQVBP_VSCODE=OFF

# MAINTAINER='Name <address>' sets the package's Maintainer (and the
# changelog's signature); build-deb's cache keeps it for the next runs.
deb: deps $(DEB)/CMakeCache.txt
	$(if $(MAINTAINER),cmake $(DEB) -DQVBP_PACKAGE_MAINTAINER='$(MAINTAINER)')
	cmake --build $(DEB) -j $(JOBS) --target $(SHIPPED)
	epoch=$${SOURCE_DATE_EPOCH:-$$(git log -1 --format=%ct 2>/dev/null || date +%s)}; \
	cd $(DEB) && SOURCE_DATE_EPOCH=$$epoch cpack -G DEB

test-normal: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The core alone, as a game or another host takes it: no sound device, no
# audio-file library, no programs but qvbp.
test-core: deps $(CORE)/CMakeCache.txt
	cmake --build $(CORE) -j $(JOBS)
	cd $(CORE) && ctest --output-on-failure -j $(JOBS)
$(CORE)/CMakeCache.txt:
	cmake -S . -B $(CORE) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQVBP_WERROR=ON -DQVBP_AUDIO=none \
		-DQVBP_TOOLS=OFF -DQVBP_LSP=OFF -DQVBP_VSCODE=OFF -DQVBP_BENCH=OFF

test-asan: deps $(ASAN)/CMakeCache.txt
	cmake --build $(ASAN) -j $(JOBS)
	cd $(ASAN) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
		LSAN_OPTIONS="suppressions='$(CURDIR)/tests/lsan.supp':print_suppressions=0" \
		ctest --output-on-failure -j $(JOBS)

test-fuzz: fuzz
	sh fuzz/run-bounded.sh $(FUZZ) $(FUZZ_SECONDS)


# The playground: the core compiled to WebAssembly beside the page, in $(WEB)/site.
$(WEB)/CMakeCache.txt:
	$(EMENV) emcmake cmake -S . -B $(WEB) -DCMAKE_BUILD_TYPE=Release -DQVBP_WERROR=ON \
		-DQVBP_AUDIO=none -DQVBP_TOOLS=OFF -DQVBP_TESTS=OFF -DQVBP_BENCH=OFF

web: deps-web $(WEB)/CMakeCache.txt
	$(EMENV) cmake --build $(WEB) -j $(JOBS) --target web_site

web-serve: web
	@echo "open http://127.0.0.1:$(PORT)/ (Ctrl-C stops the server)"
	python3 -m http.server $(PORT) --bind 127.0.0.1 --directory $(WEB)/site

# Headless Chromium against the built page; qvbrender gives the reference sound.
# Then the picture of docs/editors.md: Neovim in tmux, drawn by Chromium.
test-web: web build
	cd web && npm ci --no-audit --no-fund --ignore-scripts
	node web/test/browser_test.mjs --site $(WEB)/site --qvbrender $(BUILD)/qvbrender --examples examples
	sh tests/lsp/neovim_screenshot.sh $(abspath $(BUILD))/qvblsp $(CURDIR)/editors/nvim $(abspath $(BUILD))/neovim-heard.png

# Windows is one of our systems: its build and tests run with the others.
test: test-normal test-core test-windows test-asan test-fuzz test-web

# Windows: the programs cross-built with MinGW-w64 into $(WINDOWS)/, and
# $(WINDOWS)/qvbp-VERSION-windows-x86_64.zip with the documents and examples;
# test-windows also builds the test programs and runs everything under Wine,
# with the Linux build's command-line tests pointed at the .exe files.
WINDOWS_SHIPPED := qvbp qvbrender qvbplay qvbgb man
deps-windows: $(WINDOWS)/.deps-installed
$(WINDOWS)/.deps-installed: scripts/install-deps.sh
	@sh scripts/install-deps.sh windows
	@mkdir -p $(WINDOWS) && touch $@

$(WINDOWS)/CMakeCache.txt: | $(WINDOWS)/.deps-installed
	cmake -S . -B $(WINDOWS) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release -DQVBP_BENCH=OFF -DQVBP_WERROR=ON

windows: deps-windows $(WINDOWS)/CMakeCache.txt
	cmake --build $(WINDOWS) -j $(JOBS) --target $(WINDOWS_SHIPPED)

windows-zip: windows
	cd $(WINDOWS) && cpack -G ZIP

test-windows: windows-zip build
	cmake --build $(WINDOWS) -j $(JOBS)
	JOBS=$(JOBS) sh scripts/test-windows.sh $(WINDOWS) $(BUILD)

bench: build
	./$(BUILD)/bench/qvbp_bench

fuzz: deps
	cmake -S . -B $(FUZZ) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DQVBP_FUZZ=ON -DQVBP_WERROR=ON -DQVBP_VSCODE=OFF
	cmake --build $(FUZZ) -j $(JOBS)

clean:
	rm -rf $(BUILD) $(ASAN) $(FUZZ) $(WEB) $(WINDOWS) $(DEB)
