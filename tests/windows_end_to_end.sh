#!/usr/bin/env bash
# kitweaver.exe under wine against the Linux build: on the example kits, on
# a mix of them that must be shortened into a PO-33 pack with chords, and on
# a generated 24-bit stereo kit that needs compression, each run plainly and
# with --hq (the stereo kit and the demo kit also as OP-1 field kits, with
# --field, as OP-XY presets, and with --sort, --trim and --slice), the lines
# must be the same (with \ for /) and the packs, and every file of the
# presets, the same byte for byte. Then the demo kit's pack is taken to each
# device, and its preset back to the OP-1.
#
#   tests/windows_end_to_end.sh LINUX_KITWEAVER WINDOWS_KITWEAVER_EXE
#
# Both programs take the files in the order their system lists them: wine
# sorts a folder by name, and a tmpfs lists it newest first, so the kits are
# made on a tmpfs with their files created in reverse order of name.
set -euo pipefail
linux=$1
windows=$2
root=$(cd "$(dirname "$0")/.." && pwd)
base=/dev/shm
[[ -d "$base" && -w "$base" ]] || base=${TMPDIR:-/tmp}
scratch=$(mktemp -d "$base/kitweaver-windows-XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# A kit named $1 holding the files $2... (copied in reverse order of name).
make_kit() {
  local kit="$scratch/$1"
  shift
  mkdir -p "$kit"
  printf '%s\n' "$@" | awk -F/ '{ print $NF "\t" $0 }' | LC_ALL=C sort -r | cut -f 2- |
    while IFS= read -r file; do cp "$file" "$kit/"; done
}

kits=()
for example in "$root"/examples/*/; do
  name=$(basename "$example")
  make_kit "$name" "$example"*.wav
  kits+=("$name")
done
make_kit "mix PO-33.4" "$root/examples/demo kit/"*.wav "$root/examples/chords/"*.wav
kits+=("mix PO-33.4")
mkdir -p "$scratch/sources"
for i in 5 4 3 2 1 0; do
  tag=$([[ $((i % 2)) == 0 ]] && echo " Chord,Cmaj7" || echo "")
  sox -n -r 96000 -b 24 -c 2 "$scratch/sources/tone $i$tag.wav" synth 3 sine $((110 * (i + 2))) sine $((165 * (i + 1)))
done
make_kit "generated" "$scratch/sources/"*.wav
rm -rf "$scratch/sources"
kits+=("generated")

failed=0
# Says whether the runs labelled $1 printed the same lines and made the same
# $2 ("pack" or "kit"), the Linux one at $3 and the Windows one at $4.
compare() {
  if ! cmp -s "$scratch/linux.txt" "$scratch/windows.txt"; then
    echo "$1: the lines differ"
    diff "$scratch/linux.txt" "$scratch/windows.txt" | head -n 10
    failed=1
  elif [[ ! -e "$3" ]] || ! diff -rq "$3" "$4" >/dev/null; then
    echo "$1: the ${2}s differ"
    failed=1
  else
    echo "$1: same lines, same $2 ($(du -sb "$3" | cut -f1) bytes)"
  fi
}

for kit in "${kits[@]}"; do
  if [[ "$(ls -U "$scratch/$kit")" != "$(LC_ALL=C ls "$scratch/$kit")" ]]; then
    echo "$kit: this folder does not list its files by name; the two programs would take them in other orders"
    exit 1
  fi
  options=("" "--hq")
  [[ "$kit" == generated || "$kit" == "demo kit" ]] &&
    options+=("--field" "--hq --field" "--device op-xy" "--hq --device op-xy" "--sort --trim" "--sort --slice --trim")
  for option in "${options[@]}"; do
    # A preset is a folder: both are kept as packs are, and compared whole.
    made="$kit/samplepack.aif"
    [[ "$option" == *op-xy* ]] && made="$kit/$kit.preset"
    rm -rf "$scratch/$made" "$scratch/linux.aif" "$scratch/windows.aif"
    (cd "$scratch" && "$linux" $option "$kit" >"$scratch/linux.txt") || true
    mv "$scratch/$made" "$scratch/linux.aif" 2>/dev/null || true
    (cd "$scratch" && wine "$windows" $option "$kit" | tr '\\' '/' >"$scratch/windows.txt") || true
    mv "$scratch/$made" "$scratch/windows.aif" 2>/dev/null || true
    compare "$kit${option:+ $option}" pack "$scratch/linux.aif" "$scratch/windows.aif"
  done
done

# Kits made from kits: the demo kit's pack taken to each device, and its
# OP-XY preset (made by the Linux build) back to the OP-1.
convert="$scratch/convert"
mkdir -p "$convert"
cp -r "$scratch/demo kit" "$convert/demo"
(cd "$convert" && "$linux" demo >/dev/null && "$linux" --device op-xy demo/samplepack.aif >/dev/null)
for run in "op1.aif|demo/samplepack.aif" "field.aif|--device field demo/samplepack.aif" \
           "xy.preset|--device op-xy demo/samplepack.aif" "back.aif|demo/samplepack.preset"; do
  made=${run%%|*}
  arguments=${run#*|}
  rm -rf "$convert/linux-$made" "$convert/windows-$made"
  (cd "$convert" && "$linux" -o "linux-$made" $arguments | sed 's/linux-//' >"$scratch/linux.txt") || true
  (cd "$convert" && wine "$windows" -o "windows-$made" $arguments | tr '\\' '/' | sed 's/windows-//' \
    >"$scratch/windows.txt") || true
  compare "$arguments -> $made" kit "$convert/linux-$made" "$convert/windows-$made"
done
exit $failed
