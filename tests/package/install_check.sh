#!/bin/sh
# Installs the build into a temporary prefix, moves the prefix (nothing may point back into the
# build or the first prefix), then builds and runs the consumer program three ways: a plain C99
# compile, a find_package project and a pkg-config compile; every public header must also compile
# on its own as C99 and as C++; the installed Python module (when built) imports and computes.
# Arguments: build directory, this directory, C compiler, C++ compiler, python or "none".
set -eu
build=$1 here=$2 cc=$3 cxx=$4 python=$5
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cmake --install "$build" --prefix "$tmp/first" >/dev/null
mv "$tmp/first" "$tmp/prefix"
p=$tmp/prefix
lib=$(dirname "$(find "$p" -name 'libzok_kernel.so' | head -n 1)")
[ -n "$lib" ] || { echo "libzok_kernel.so was not installed"; exit 1; }

for so in libzok_kernel libzok_core; do
  [ -L "$lib/$so.so" ] && [ -L "$lib/$so.so.0" ] || { echo "$so: missing SONAME links"; exit 1; }
  soname=$(readelf -d "$lib/$so.so" | sed -n 's/.*SONAME.*\[\(.*\)\]/\1/p')
  [ "$soname" = "$so.so.0" ] || { echo "$so: SONAME is '$soname'"; exit 1; }
done
if grep -rIl -e "$build" -e "$tmp/first" "$p" >/dev/null 2>&1; then
  echo "installed files name the build or install directory:"; grep -rIl -e "$build" -e "$tmp/first" "$p"; exit 1
fi

for h in "$p"/include/zok/*.h; do
  "$cc" -std=c99 -Wall -Wextra -Werror -pedantic -fsyntax-only -I"$p/include" -x c "$h"
  "$cxx" -std=c++17 -Wall -Wextra -Werror -pedantic -fsyntax-only -I"$p/include" -x c++ "$h"
done

flags="-std=c99 -Wall -Werror -pedantic"
# shellcheck disable=SC2086
"$cc" $flags -I"$p/include" "$here/consumer.c" -L"$lib" -lzok_kernel -lzok_core -lm -o "$tmp/plain"
LD_LIBRARY_PATH=$lib "$tmp/plain"

cmake -S "$here" -B "$tmp/project" -DCMAKE_PREFIX_PATH="$p" -DCMAKE_C_COMPILER="$cc" >/dev/null
cmake --build "$tmp/project" >/dev/null
"$tmp/project/consumer"

pc=$(PKG_CONFIG_PATH="$lib/pkgconfig" pkg-config --cflags --libs zok)
# shellcheck disable=SC2086
"$cc" $flags "$here/consumer.c" $pc -lm -o "$tmp/pc"
LD_LIBRARY_PATH=$lib "$tmp/pc"

# The MPI examples build on their own against the installed package, where MPI is present.
if command -v mpicc >/dev/null 2>&1; then
  cmake -S "$here/../../examples/mpi" -B "$tmp/mpi" -DCMAKE_PREFIX_PATH="$p" >/dev/null
  cmake --build "$tmp/mpi" >/dev/null
fi

"$p/bin/zok" info | grep -q "^vector kernels: " || { echo "the installed zok program does not run"; exit 1; }
if [ "$python" != none ]; then
  PYTHONPATH=$(dirname "$(find "$p" -type d -name zok -path '*dist-packages*')") "$python" -c \
    "import zok; assert zok.vm.sqrt([4.0]).tolist() == [2.0]; print('python module:', zok.__file__)"
fi
echo "installed and used from $p"
