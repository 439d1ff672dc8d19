#!/usr/bin/env bash
# Installs the build tree into a scratch prefix, builds a small C program
# against it with pkg-config, and runs it and the installed nimbex.
#   install-consumer.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build="$1" source="$2"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
pc="$(find "$scratch/prefix" -name nimbex.pc)"
export PKG_CONFIG_PATH="$(dirname "$pc")"
# The installed tree moved elsewhere must still be found through its pkg-config file.
mv "$scratch/prefix" "$scratch/moved"
export PKG_CONFIG_PATH="${PKG_CONFIG_PATH/$scratch\/prefix/$scratch/moved}"
# CC and CFLAGS: the compiler and flags of the build (-m32, sanitizers).
"${CC:-cc}" ${CFLAGS:-} -Wall -Werror -o "$scratch/consumer" "$source/tests/install/consumer.c" \
  $(pkg-config --cflags --libs nimbex)
export NIMBEX_MACHINE_DIR="$scratch/machine" NIMBEX_USER_DIR="$scratch/user"
export NIMBEX_RUNTIME_DIR="$scratch/run"
unset NIMBEX_MODULE
out="$("$scratch/consumer")"
[ "$out" = "53 0 30000" ] || { echo "consumer printed '$out'"; exit 1; }
# The installed program loads the installed module: a time-out set through it
# is what the consumer reads back.
"$scratch/moved/bin/nimbex" timeout set 1234
out="$("$scratch/consumer")"
[ "$out" = "53 0 1234" ] || { echo "after nimbex timeout set: '$out'"; exit 1; }
[ "$(pkg-config --variable=module nimbex)" = "$(pkg-config --variable=libdir nimbex)/libnimbex.so" ]
# The message catalog lies where the module looks for it: the library directory.
[ -s "$(pkg-config --variable=libdir nimbex)/libnimbex.cat" ] || { echo "no libnimbex.cat"; exit 1; }
echo "install: ok"
