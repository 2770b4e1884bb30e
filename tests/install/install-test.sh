#!/usr/bin/env bash
# install-test.sh BUILD_DIR SOURCE_DIR [SANITIZE]: installs the build into a
# fresh prefix, checks what lands where, then configures, builds and runs a
# small project that finds the library with find_package(zurud).
set -euo pipefail
build=$1
source=$2
sanitize=${3:-OFF}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail() { echo "FAIL: $*"; exit 1; }

cmake --install "$build" --prefix "$prefix" > "$work/install.log" ||
  { cat "$work/install.log"; fail "cmake --install"; }

for f in bin/karvo bin/hostdist bin/fasta2matrix share/man/man1/karvo.1.gz \
         share/man/man1/hostdist.1.gz share/man/man1/fasta2matrix.1.gz \
         share/bash-completion/completions/karvo \
         share/bash-completion/completions/hostdist \
         share/bash-completion/completions/fasta2matrix \
         share/doc/karvo/copyright share/doc/karvo/changelog.Debian.gz \
         share/doc/karvo/README.md share/doc/karvo/examples/symbionts.phy \
         share/doc/libzurud-dev/copyright include/zurud/zurud.hpp \
         include/zurud/zurud-read.hpp include/zurud/zurud-print.hpp \
         include/zurud/zurud-hostpara.hpp include/zurud/zurud-sets.hpp \
         include/zurud/zurud-text.hpp; do
  [ -e "$prefix/$f" ] || fail "$f not installed"
done
version=$(sed -n 's/^project(zurud VERSION \([0-9.]*\).*/\1/p' \
  "$source/CMakeLists.txt")
for p in karvo hostdist fasta2matrix; do
  [ -x "$prefix/bin/$p" ] || fail "bin/$p is not executable"
  [ "$("$prefix/bin/$p" --version)" = "$p $version" ] ||
    fail "installed $p --version is not $p $version"
  gzip -t "$prefix/share/man/man1/$p.1.gz" || fail "$p.1.gz is not gzip"
  bash -n "$prefix/share/bash-completion/completions/$p" ||
    fail "completion of $p is not valid bash"
done
ls "$prefix"/lib*/libzurud.* > /dev/null 2>&1 || fail "libzurud not installed"
config=$(ls "$prefix"/lib*/cmake/zurud/zurudConfig.cmake 2>/dev/null) ||
  fail "zurudConfig.cmake not installed"
[ -e "$(dirname "$config")/zurudConfigVersion.cmake" ] ||
  fail "zurudConfigVersion.cmake not installed"
# Every public header is installed, and only the three programs go to bin/.
for h in "$source"/zurud/*.hpp; do
  [ -e "$prefix/include/zurud/$(basename "$h")" ] ||
    fail "header $(basename "$h") not installed"
done
extra=$(ls "$prefix/bin" | grep -vx 'karvo\|hostdist\|fasta2matrix' || true)
[ -z "$extra" ] || fail "installed besides the programs in bin/: $extra"
if find "$prefix" -name unit_tests | grep -q .; then
  fail "unit_tests was installed"
fi

# The installed program runs on its own.
"$prefix/bin/karvo" -c "$source/examples/symbionts.phy" \
  "$source/examples/symbiont-hosts.txt" > "$work/installed.out" 2> /dev/null ||
  fail "installed karvo failed on the example data"
"$build/karvo" -c "$source/examples/symbionts.phy" \
  "$source/examples/symbiont-hosts.txt" > "$work/built.out" 2> /dev/null
cmp -s "$work/installed.out" "$work/built.out" ||
  fail "installed karvo writes other output than the built one"

# A project of someone else's, built only against the installed files. A
# sanitized library needs the sanitizer run time in the consumer as well.
flags=()
if [ "$sanitize" = ON ]; then
  flags+=("-DCMAKE_CXX_FLAGS=-fsanitize=address,undefined"
          "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined")
fi
cmake -S "$source/tests/install/consumer" -B "$work/consumer" \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release "${flags[@]}" \
  > "$work/configure.log" 2>&1 ||
  { cat "$work/configure.log"; fail "consumer: find_package(zurud)"; }
cmake --build "$work/consumer" > "$work/build.log" 2>&1 ||
  { cat "$work/build.log"; fail "consumer: build against installed zurud"; }
grep -q "zurud_DIR:PATH=$prefix" "$work/consumer/CMakeCache.txt" ||
  fail "consumer found a zurud other than the installed one"
printf ' 2\t 4\nMus   \tasgt\nRattus\tacga\n' > "$work/expected.out"
"$work/consumer/consumer" > "$work/consumer.out" || fail "consumer run"
cmp -s "$work/expected.out" "$work/consumer.out" ||
  { diff "$work/expected.out" "$work/consumer.out"; fail "consumer output"; }

# A version the package does not promise is refused.
mkdir -p "$work/too-new"
cat > "$work/too-new/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.20)
project(too_new LANGUAGES CXX)
find_package(zurud 2.0 REQUIRED)
CMAKE
if cmake -S "$work/too-new" -B "$work/too-new/build" \
     -DCMAKE_PREFIX_PATH="$prefix" > /dev/null 2>&1; then
  fail "find_package(zurud 2.0) accepted version 1"
fi
echo "install tree, installed karvo and find_package(zurud) consumer: ok"
