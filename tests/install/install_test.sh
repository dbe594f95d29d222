#!/usr/bin/env bash
# Installs a build into a temporary prefix and checks the installed tree the way programs
# outside the source tree use it:
#   - every installed header compiles alone, with only the folders `pkg-config --cflags` names;
#   - a CMake project (find_package(Vantrel), target Vantrel::client) and a plain compiler
#     command (`pkg-config --cflags --libs vantrel`) each build consumer/list_children.cpp;
#   - both programs load the library from the prefix by its soname and list a node of the
#     sample tree served by the installed vantreld on loopback;
#   - the installed vantrel tool, when the tree has one, loads the installed library too (and
#     comes with its manual page, vantreld's, its bash completion and the examples), and so
#     does the installed Python module, which lists the same node.
# Nothing is rebuilt: the install copies the build's own files. Run it inside a private network
# namespace (CTest does, through scripts/test.sh).
#
#   install_test.sh BUILD_DIR CMAKE CXX CONSUMER_SOURCE_DIR
set -euo pipefail
build=$1 cmake=$2 cxx=$3 consumer=$4

work=$(mktemp -d)
prefix=$work/prefix
server_pid=
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null; wait "$server_pid" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "install test: $*" >&2
  exit 1
}
step() { echo "== $*"; }
# The file PROGRAM loads for the library's soname, without symbolic links.
loaded_library() {
  realpath "$(ldd "$1" | sed -n "s/^[[:space:]]*$soname => \([^ ]*\) .*/\1/p")"
}

step "install into $prefix"
"$cmake" --install "$build" --prefix "$prefix" >/dev/null
outside=$(grep -v "^$prefix/" "$build/install_manifest.txt" || true)
[ -z "$outside" ] || fail "files installed outside the prefix: $outside"

pc_file=$(find "$prefix" -name vantrel.pc)
[ -n "$pc_file" ] || fail "no vantrel.pc installed"
export PKG_CONFIG_LIBDIR=$(dirname "$pc_file") PKG_CONFIG_PATH=
unset LD_LIBRARY_PATH
read -r -a cflags <<<"$(pkg-config --cflags vantrel)"
read -r -a libs <<<"$(pkg-config --libs vantrel)"
libdir=$(pkg-config --variable=libdir vantrel)
version=$(pkg-config --modversion vantrel)

step "each installed header compiles alone (${cflags[*]})"
headers=$(find "$prefix/include" -name '*.h' | sort)
[ -n "$headers" ] || fail "no headers installed"
for header in $headers; do
  printf '#include "%s"\n#include "%s"\n' "$header" "$header" |
    "$cxx" -std=c++17 -Wall -Wextra -Werror -fsyntax-only "${cflags[@]}" -x c++ - ||
    fail "${header#"$prefix"/} does not compile alone"
done

step "build with find_package(Vantrel)"
"$cmake" -S "$consumer" -B "$work/with-cmake" -G Ninja -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF >/dev/null
grep -q "^Vantrel_DIR:PATH=$prefix/" "$work/with-cmake/CMakeCache.txt" ||
  fail "find_package(Vantrel) found a package outside $prefix"
"$cmake" --build "$work/with-cmake" >/dev/null

step "build with pkg-config (${libs[*]})"
mkdir "$work/with-pkg-config"
"$cxx" -std=c++17 -o "$work/with-pkg-config/list_children" "$consumer/list_children.cpp" \
  "${cflags[@]}" "${libs[@]}" -Wl,-rpath,"$libdir"

step "run both against the installed vantreld"
"$prefix/bin/vantreld" --init-sample "$work/tree" >/dev/null
"$prefix/bin/vantreld" --port 0 --no-discovery "$work/tree" >"$work/ready" 2>"$work/log" &
server_pid=$!
port=
for _ in $(seq 1 300); do
  port=$(sed -n 's/.*node_port=\([0-9]*\).*/\1/p' "$work/ready")
  [ -n "$port" ] && break
  kill -0 "$server_pid" 2>/dev/null || { cat "$work/log" >&2; fail "vantreld did not start"; }
  sleep 0.1
done
[ -n "$port" ] || fail "vantreld did not print its port"

soname=$(readelf -d "$libdir/libvantrelClientAPI_dynamic.so" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[ "$soname" = "libvantrelClientAPI_dynamic.so.${version%%.*}" ] || fail "the library's soname is '$soname'"
library=$(realpath "$libdir/$soname")
reel="/Volume 1/Commercial/Shared Vault/Library A/Reel 1"
expected="Vantrel $version"$'\nShot 010 [CLIP]\nShot 020 [CLIP]'
for program in "$work/with-cmake/list_children" "$work/with-pkg-config/list_children"; do
  [ "$(loaded_library "$program")" = "$library" ] || fail "$program does not load $library"
  listing=$("$program" "127.0.0.1:$port" "$reel") || fail "$program failed: $listing"
  [ "$listing" = "$expected" ] || fail "$program printed:"$'\n'"$listing"
done
tool=$prefix/bin/vantrel
if [ -e "$tool" ]; then
  [ "$(loaded_library "$tool")" = "$library" ] || fail "$tool does not load $library"
  "$tool" --help >/dev/null || fail "$tool --help failed"
  step "manual pages, bash completion and examples"
  for page in vantrel vantreld; do
    [ -s "$prefix/share/man/man1/$page.1" ] || fail "no manual page $page.1"
  done
  grep '^\.SS vantrel get$' "$prefix/share/man/man1/vantrel.1" >/dev/null ||
    fail "vantrel.1 lacks the subcommands' help"
  completion=$prefix/share/bash-completion/completions/vantrel
  completed=$(bash -c 'source "$1"; COMP_WORDS=("$2" pi); COMP_CWORD=1; _vantrel
                       echo "${COMPREPLY[*]}"' _ "$completion" "$tool") ||
    fail "the bash completion failed"
  [ "$completed" = "ping" ] || fail "the bash completion of 'pi' gave '$completed'"
  [ -f "$prefix/share/doc/vantrel/examples/print_tree.cpp" ] || fail "no examples installed"
fi
# The Python module, when the build has one and it is uninstrumented (an instrumented one needs
# the sanitizer's run-time preloaded into the interpreter).
# grep reads the whole list: under pipefail, "grep -q" quitting early could fail the pipe.
module=$(find "$prefix" -path '*/dist-packages/vantrel/_vantrel*.so' | head -n 1)
if [ -n "$module" ] && ! ldd "$module" | grep 'lib[at]san' >/dev/null; then
  step "the installed Python module"
  [ "$(loaded_library "$module")" = "$library" ] || fail "$module does not load $library"
  names=$(cd "$work" && PYTHONPATH=${module%/vantrel/*} /usr/bin/python3 -c '
import sys, vantrel
with vantrel.Client():
    print("\n".join(c.name for c in vantrel.Server(sys.argv[1]).resolve(sys.argv[2]).children))
' "127.0.0.1:$port" "$reel") || fail "the Python module failed: $names"
  [ "$names" = $'Shot 010\nShot 020' ] || fail "the Python module listed:"$'\n'"$names"
fi
echo "install test: passed"
