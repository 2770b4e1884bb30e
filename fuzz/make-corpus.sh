#!/usr/bin/env bash
# Builds the seed corpus of every fuzz target: make-corpus.sh OUT_DIR.
# OUT_DIR/<target>/ receives the inputs that the command-line cases in
# tests/cli/*/ hold, encoded as the target reads them, plus the hand-made
# seeds and the regression inputs kept in fuzz/seeds/<target>/.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
out=${1:?usage: make-corpus.sh OUT_DIR}

targets=(fuzz_karvo fuzz_char_mat fuzz_assoc fuzz_assoc_table fuzz_dist_mat
         fuzz_fasta fuzz_text fuzz_data_file fuzz_number fuzz_nexus
         fuzz_dist_table)
for t in "${targets[@]}"; do mkdir -p "$out/$t"; done

# The first byte of a fuzz_char_mat input: layout + 5 * cell type (DISCR).
layout_byte() {
  case " $* " in
    *" -p "*) printf '\x05' ;;  # PHYLIP
    *" -o "*) printf '\x09' ;;  # COMMENTED_PHYLIP
    *) printf '\x06' ;;         # EXTENDED_PHYLIP
  esac
}

for case_dir in "$root"/tests/cli/*/; do
  name=$(basename "$case_dir")
  [ -f "$case_dir/setup" ] && continue  # inputs too large for a seed
  args=()
  [ -f "$case_dir/args" ] && mapfile -t args < "$case_dir/args"
  stdin_file="$case_dir/stdin"
  if [ -f "$case_dir/program" ]; then
    # The FASTA converter's cases feed the FASTA reader.
    for f in "$case_dir"/*.fasta "$stdin_file"; do
      [ -f "$f" ] && cp "$f" "$out/fuzz_fasta/cli-$name-$(basename "$f")"
    done
    # hostdist's tables (IN_LAYOUT TABLE, the fourth argument) feed the
    # table reader.
    if [ "${#args[@]}" -ge 4 ] && [ "${args[1]}" = TABLE ] &&
       [ -f "$case_dir/${args[3]}" ]; then
      cp "$case_dir/${args[3]}" "$out/fuzz_dist_table/cli-$name"
    fi
    continue
  fi

  # The argument line: files of the case become @d and @a.
  line=() data_file="" assoc_file=""
  for a in "${args[@]}"; do
    if [ -f "$case_dir/$a" ] && [[ $a == *.phy ]]; then
      line+=("@d") data_file="$case_dir/$a"
    elif [ -f "$case_dir/$a" ] && [[ $a == *.txt ]]; then
      line+=("@a") assoc_file="$case_dir/$a"
    else
      line+=("$a")
    fi
  done
  # Files, not shell variables, carry the texts: they may hold NUL bytes.
  data_src=$data_file assoc_src=$assoc_file
  if [ -f "$stdin_file" ]; then
    if [ -n "$data_file" ]; then assoc_src=$stdin_file; else data_src=$stdin_file; fi
  fi
  {
    printf '%s\n' "${line[*]}"
    if [ -n "$data_src" ]; then cat "$data_src"; fi
    printf '%%%%%%'
    if [ -n "$assoc_src" ]; then cat "$assoc_src"; fi
  } > "$out/fuzz_karvo/cli-$name"

  if [ -n "$data_src" ]; then
    { layout_byte "${args[@]}"; cat "$data_src"; } \
      > "$out/fuzz_char_mat/cli-$name"
  fi
  if [ -n "$assoc_src" ]; then
    cp "$assoc_src" "$out/fuzz_assoc/cli-$name"
    # fuzz_assoc_table: a switch byte, the first words of the lines as the
    # data file's labels, then the file.
    { printf '\x00'; awk '{ printf "%s|", $1 } END { print "" }' "$assoc_src"
      cat "$assoc_src"; } > "$out/fuzz_assoc_table/cli-$name"
  fi
  # karvo's NEXUS output is a NEXUS data file too.
  if [ -f "$case_dir/expected.stdout" ] &&
     head -c 6 "$case_dir/expected.stdout" | grep -qi '^#nexus'; then
    cp "$case_dir/expected.stdout" "$out/fuzz_nexus/cli-$name"
  fi
  # fuzz_data_file: a mode byte (label layout, -i), then any data file.
  for f in "$case_dir"/*.phy "$case_dir"/*.fasta "$case_dir"/*.nex \
           "$case_dir"/*.aln; do
    [ -f "$f" ] || continue
    mode=1
    case " ${args[*]} " in *" -p "*) mode=0 ;; *" -o "*) mode=2 ;; esac
    case " ${args[*]} " in *" -i "*) mode=$((mode + 4)) ;; esac
    { printf "\\x0$mode"; cat "$f"; } \
      > "$out/fuzz_data_file/cli-$name-$(basename "$f")"
  done
done

# The tables other programs wrote, with the labels they name; the switch
# byte passes over unknown associates in every other one.
switch=0
for f in "$root"/tests/assoc-tables/*.*; do
  case $f in *.sh | *.md) continue ;; esac
  { printf "\\x0$switch"
    printf 'Pol_flav_01|Pol_flav_02|Hep_sylv_01|Mas_rat_01|Syp_mus_01\n'
    cat "$f"; } > "$out/fuzz_assoc_table/table-$(basename "$f")"
  switch=$((1 - switch))
done

for t in "${targets[@]}"; do
  if [ -d "$here/seeds/$t" ]; then
    cp "$here/seeds/$t"/* "$out/$t/" 2>/dev/null || true
  fi
done
[ -f "$root/examples/symbionts.fasta" ] &&
  cp "$root/examples/symbionts.fasta" "$out/fuzz_fasta/example-symbionts.fasta"
[ -f "$root/examples/symbionts.fasta" ] &&
  { printf '\x01'; cat "$root/examples/symbionts.fasta"; } \
    > "$out/fuzz_data_file/example-symbionts.fasta"
[ -f "$root/examples/symbionts.phy" ] &&
  { printf '\x06'; cat "$root/examples/symbionts.phy"; } \
    > "$out/fuzz_char_mat/example-symbionts"
for t in "${targets[@]}"; do
  echo "$t: $(find "$out/$t" -type f | wc -l) seeds"
done
