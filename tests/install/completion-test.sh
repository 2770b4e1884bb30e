#!/usr/bin/env bash
# completion-test.sh SOURCE_DIR: the bash completions offer each program's
# options, rules and layouts at the right place, and file names elsewhere.
# The two helpers of the bash-completion package are stood in for, so the
# test needs only bash.
set -u
source_dir=$1
_init_completion() {
  words=("${COMP_WORDS[@]}") cword=$COMP_CWORD
  cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
}
_filedir() { COMPREPLY=($(compgen -f -- "$cur")); }
for p in karvo hostdist fasta2matrix; do
  . "$source_dir/completion/$p" || { echo "FAIL: completion/$p"; exit 1; }
done
cd "$(mktemp -d)" && touch lice.fasta
failures=0
# The words typed (the last one being completed) | what is offered.
while IFS='|' read -r typed want; do
  read -ra COMP_WORDS <<< "$typed"
  [[ $typed == *' ' ]] && COMP_WORDS+=('')
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMPREPLY=()
  "_${COMP_WORDS[0]}"
  got="${COMPREPLY[*]}"
  [ "$got" = "$want" ] || { echo "FAIL: '$typed': '$got', not '$want'"; failures=1; }
done <<'CASES'
karvo --|--help --version
karvo -c -|-c -v -e -f -s -g -m -q -k -t -a -p -x -o -i -u -w -P -X -C -N -E -T -A
karvo -a p|protein
karvo -m |
karvo -c li|lice.fasta
hostdist |MIN MEAN MAX PBC --help --version
hostdist MIN E|EXTENDED_PHYLIP
hostdist MIN T|TAB TABLE
hostdist MIN PHYLIP |PHYLIP EXTENDED_PHYLIP TAB NEXUS NEXUS_ENCLOSED ONE_COLUMN RAW
hostdist MIN TABLE T|TAB
hostdist MIN PHYLIP TAB li|lice.fasta
hostdist --help |
fasta2matrix N|NEXUS NEXUS_ENCLOSED
fasta2matrix C|COMMENTED_PHYLIP
fasta2matrix PHYLIP li|lice.fasta
CASES
[ $failures -eq 0 ] && echo "bash completions: ok"
exit $failures
