# make run   builds zu and starts it from build/
# make test  builds everything and runs every test, the ALSA label (a qemu guest) included,
#            zu.exe on ALSA (alsa-wine) not
# make package  builds the Debian package build/zu_<version>_<arch>.deb
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: run build test deps test-deps clean uninstall package

deps:
	@scripts/install-deps.sh build

test-deps:
	@scripts/install-deps.sh test

$(BUILD)/Makefile:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: deps $(BUILD)/Makefile
	cmake --build $(BUILD) -j $(JOBS)

run: build
	cd $(BUILD) && ./zu

test: test-deps $(BUILD)/Makefile
	cmake -S . -B $(BUILD) -DZU_ALSA_TESTS=ON >/dev/null
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && ctest --output-on-failure --timeout 300 -j $(JOBS) -LE alsa-wine

package: build
	cmake --build $(BUILD) --target package

uninstall:
	cmake --build $(BUILD) --target uninstall

clean:
	rm -rf $(BUILD)
