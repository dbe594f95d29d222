# Two entry points; see README.md.
#   make        the main job: build, then run the example program
#   make test   build and run every test (normal and sanitizer builds, the Windows build under
#               Wine, fuzz targets)
#   make windows       cross-build the library, its unit tests and the examples for Windows
#                      x86-64 into build/windows
#   make test-windows  that build's tests under Wine (with the Linux interoperability test)

.PHONY: all demo test build clean windows test-windows

all: demo

build:
	scripts/setup.sh
	cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build build/release

demo: build
	scripts/demo.sh build/release

test:
	scripts/test.sh

windows:
	scripts/setup.sh
	cmake -S . -B build/windows -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-x86_64.cmake >/dev/null
	cmake --build build/windows

test-windows:
	scripts/test-windows.sh

clean:
	rm -rf build
