# The two commands of the README:
#   make run [PRINTER=port-name]   set up, build, print the sample label
#   make test                      set up, build, run all tests (plain and sanitized)
#   make fuzz                      every fuzz target for minutes (FUZZ_SECONDS, default 180)
.PHONY: deps build run test fuzz clean

deps:
	scripts/install-deps.sh

build: deps
	cmake -S . -B build -G Ninja
	cmake --build build

# Only what the sample needs: the library, the emulator and the sample.
run: deps
	cmake -S . -B build -G Ninja
	cmake --build build --target VdlLabelAPI vdl-emulator sample_label
	scripts/run-sample.sh $(PRINTER)

test: deps
	scripts/test.sh

fuzz: deps
	scripts/fuzz.sh long $(FUZZ_SECONDS)

clean:
	rm -rf build build-asan build-fuzz
