#!/usr/bin/env bash
# The bind module's export table read from the file itself, so that the
# 32-bit build is checked where Wine cannot run it: the four names, the tests'
# catalog and places seams and the provider entry, undecorated. usage: check_bind_exports.sh OBJDUMP DLL
set -u
objdump=$1 dll=$2
names=$("$objdump" -p "$dll" | sed -n '/Ordinal\/Name Pointer/,/^$/p' | awk '/^[[:space:]]+\[ *[0-9]+\]/{print $NF}' | sort | tr '\n' ' ')
expected="DllRegisterServer DllUnregisterServer QuillnetBindUseCatalog QuillnetBindUsePlaces VpnBindStart VpnBindStop WSPStartup "
if [ "$names" != "$expected" ]; then
  echo "exports of $dll: '$names', expected '$expected'"
  exit 1
fi
echo "exports of $(basename "$dll"): $names"
