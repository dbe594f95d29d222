# Two entry points; see README.md.
#   make        the main job: build, then run the example program
#   make test   build and run every test (normal and sanitizer builds, fuzz targets)

.PHONY: all demo test build clean

all: demo

build:
	scripts/setup.sh
	cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build build/release

demo: build
	scripts/demo.sh build/release

test:
	scripts/test.sh

clean:
	rm -rf build
