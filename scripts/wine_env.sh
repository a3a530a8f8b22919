#!/usr/bin/env bash
# Which Wine loader runs a Windows program of each bitness, and whether this
# machine runs 32-bit programs at all. Every script that starts Wine sources
# this file; CMake asks it through `--probe`.
#
# Debian's `wine` command starts the 32-bit loader first, even for a 64-bit
# program, so on a kernel without 32-bit support ("Exec format error") it
# fails for everything. 64-bit programs therefore always go through the 64-bit
# loader, which Debian installs outside PATH.
#
# WEBCORVANE_32BIT=no makes a machine that runs 32-bit programs take the road
# of one that does not, and WEBCORVANE_32BIT=yes the other way round.
#
#   source scripts/wine_env.sh     defines the functions below
#   bash scripts/wine_env.sh --probe    prints "yes", or "no" and the reason
#   bash scripts/wine_env.sh --loader win32|win64

# The 64-bit loader, wherever the distribution put it.
wine64_loader() {
  local candidate
  for candidate in "$(command -v wine64 2>/dev/null)" /usr/lib/wine/wine64 \
                   /usr/lib64/wine/wine64 /usr/libexec/wine/wine64; do
    [ -n "$candidate" ] && [ -x "$candidate" ] && { echo "$candidate"; return 0; }
  done
  echo "wine_env: no 64-bit Wine loader (wine64) found" >&2
  return 1
}

# The loader for a prefix of this architecture: win32 or win64.
wine_loader() {
  case "$1" in
    win64) wine64_loader ;;
    *) wine32_loader || command -v wine ;;
  esac
}

# The 32-bit loader itself. Debian's `wine` command is a script that falls
# back to the 64-bit loader where the 32-bit Wine is missing, and that runs
# no 32-bit program: a `wine` on PATH counts only when it is itself a 32-bit
# program (another distribution's loader).
wine32_loader() {
  local candidate
  for candidate in /usr/lib/wine/wine /usr/lib/i386-linux-gnu/wine/wine /usr/lib32/wine/wine \
                   /usr/libexec/wine/wine "$(command -v wine 2>/dev/null)"; do
    [ -n "$candidate" ] && [ -x "$candidate" ] && is_elf32 "$candidate" && { echo "$candidate"; return 0; }
  done
  return 1
}

# Whether a file is a 32-bit ELF program: its magic, then class 1.
is_elf32() { [ "$(head -c 5 "$1" 2>/dev/null | od -An -c | tr -d ' ')" = '177ELF001' ]; }

# The 32-bit Wine's own Windows DLLs, where the distribution puts them.
wine32_dlls_present() {
  local dir
  for dir in /usr/lib/i386-linux-gnu/wine/i386-windows /usr/lib/wine/i386-windows \
             /usr/lib32/wine/i386-windows; do
    [ -f "$dir/kernel32.dll" ] && return 0
  done
  return 1
}

# Why this machine cannot run 32-bit programs; empty when it can. The probe
# starts the 32-bit loader itself, which is what every 32-bit test needs.
wine32_unavailable_reason() {
  case "${WEBCORVANE_32BIT:-}" in
    yes) return 0 ;;
    no) echo "WEBCORVANE_32BIT=no treats this machine as one that runs no 32-bit programs"; return 0 ;;
  esac
  local loader
  if ! loader=$(wine32_loader) || ! wine32_dlls_present; then
    echo "no 32-bit Wine is installed"
  elif ! "$loader" --version >/dev/null 2>&1; then
    echo "this machine runs no 32-bit programs"
  fi
}

wine_runs_32bit() { [ -z "$(wine32_unavailable_reason)" ]; }

# reg.exe's query through a loader, its listing (without carriage returns) on
# stdout. Answers 0; 1 when reg says the key or value is absent; 2 when reg
# itself never ran. A loaded machine can fail to start a Wine process, which
# says nothing about the registry, so such a run is tried again, three in all.
#   wine_reg_query <loader> <key> [reg query options...]
wine_reg_query() {
  local loader=$1 out rc attempt
  shift
  for attempt in 1 2 3; do
    out=$("$loader" reg query "$@" </dev/null 2>&1)
    rc=$?
    out=$(printf '%s\n' "$out" | tr -d '\r')
    [ $rc -eq 0 ] && { printf '%s\n' "$out"; return 0; }
    case $out in *"Unable to find the specified registry"*) return 1 ;; esac
    echo "note: reg query $1 ended with $rc (try $attempt of 3): $out" >&2
  done
  return 2
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  case "${1:-}" in
    --probe)
      reason=$(wine32_unavailable_reason)
      if [ -z "$reason" ]; then echo yes; else echo "no: $reason"; fi ;;
    --loader) wine_loader "${2:-win32}" ;;
    *) echo "usage: $0 --probe | --loader win32|win64" >&2; exit 2 ;;
  esac
fi
