#!/usr/bin/env bash
# Checks the export tables (and what else a table names) of built Windows
# deliverables against expected tables, with the MinGW-w64 objdump.
#
# usage: scripts/check_exports.sh OBJDUMP ARCH FILE=TABLE...
#   OBJDUMP  x86_64-w64-mingw32-objdump or i686-w64-mingw32-objdump
#   ARCH     x64 or x86: table lines prefixed "x64:" or "x86:" apply to that
#            architecture only
#   FILE     a built .dll, .tsp or .exe; TABLE its expected table
#
# A table has one item a line ('#' starts a comment):
#   export ORDINAL NAME   NAME is exported under ORDINAL
#   export - NAME         NAME is exported, under any ordinal
#   slots FIRST LAST      the export address table spans the ordinals FIRST
#                         to LAST (slots without a name stay empty)
#   free FIRST LAST       of the ordinals FIRST to LAST only those the table
#                         numbers are taken ("export -" names lie elsewhere)
#   import DLL ORDINAL    the file imports DLL's ORDINAL by ordinal
#   subsystem N           the PE subsystem (2 Windows GUI, 3 console)
#   section NAME shared   the image section NAME is shared between processes
# The file's exported names must be exactly the table's (none missing, none
# more); likewise its imports from every DLL that the table names. Prints
# each difference and exits 1 when there is one, 2 on a usage error.
set -euo pipefail
if [ $# -lt 3 ]; then
  sed -n '2,24p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
fi
objdump=$1
arch=$2
shift 2
case $arch in x64 | x86) ;; *) echo "check_exports: ARCH must be x64 or x86, not '$arch'" >&2; exit 2 ;; esac

# The file's facts in the table's words, one a line, from objdump -p -h.
facts() {
  "$objdump" -p -h "$1" | awk '
    function hex(text,   i, value) {
      value = 0
      text = tolower(text)
      for (i = 1; i <= length(text); i++) value = value * 16 + index("0123456789abcdef", substr(text, i, 1)) - 1
      return value
    }
    /^Ordinal Base/ { base = $3 + 0 }
    /^[ \t]*Export Address Table[ \t]+[0-9a-fA-F]+$/ && !count { count = hex($NF) }
    /^\[Ordinal\/Name Pointer\] Table/ { names = 1; next }
    names && /^[ \t]*\[ *[0-9]+\] / {
      line = $0; sub(/^[ \t]*\[ */, "", line); index_ = line + 0; sub(/^[0-9]+\] /, "", line)
      print "export " (index_ + base) " " line; next
    }
    names && /^[ \t]*$/ { names = 0 }
    /^[ \t]*DLL Name: / { dll = tolower($3); imports = 1; next }
    imports && /Hint\/Ord/ { next }
    imports && /^[ \t]*$/ { imports = 0; next }
    imports && NF >= 3 { if ($3 == "<none>") print "import " dll " " ($2 + 0); else print "import " dll " name " $3; next }
    /^Subsystem[ \t]/ { print "subsystem " hex($2) }
    /^ *[0-9]+ \.[A-Za-z0-9_.$]+ / { section = $2; next }
    section != "" && /SHARED/ { print "section " section " shared" }
    { if ($0 !~ /^ *[0-9]+ \./) section = "" }
    END { if (count) print "slots " base " " (base + count - 1) }
  '
}

# The table's items for this architecture.
items() {
  sed -e 's/#.*//' -e 's/[ \t]*$//' "$1" | awk -v arch="$arch" '
    NF == 0 { next }
    $1 ~ /:$/ { if ($1 != arch ":") next; sub(/^[^ \t]+[ \t]+/, "") }
    { $1 = $1; print }
  '
}

status=0
for pair in "$@"; do
  file=${pair%%=*}
  table=${pair#*=}
  if [ "$file" = "$pair" ] || [ ! -f "$table" ]; then
    echo "check_exports: expected FILE=TABLE with an existing table, not '$pair'" >&2
    exit 2
  fi
  if [ ! -f "$file" ]; then
    echo "FAIL $file: not built"
    status=1
    continue
  fi
  expected=$(items "$table" | sort -u)
  # Compare the kinds the table names; exports always (none expected: none allowed).
  actual=$(facts "$file" | awk -v expected="$expected" '
    BEGIN {
      n = split(expected, lines, "\n")
      for (i = 1; i <= n; i++) {
        split(lines[i], f, " ")
        if (f[1] == "export" && f[2] == "-") anyOrdinal[f[3]] = 1
        if (f[1] == "import") dlls[f[2]] = 1
        if (f[1] == "slots") wantSlots = 1
        if (f[1] == "subsystem") wantSubsystem = 1
        if (f[1] == "section") sections[f[2]] = 1
        if (f[1] == "free") { freeFirst[++frees] = f[2]; freeLast[frees] = f[3]; print lines[i] }
      }
    }
    function inFree(ordinal,   i) {
      for (i = 1; i <= frees; i++) if (ordinal >= freeFirst[i] + 0 && ordinal <= freeLast[i] + 0) return 1
      return 0
    }
    $1 == "export" { if (($3 in anyOrdinal) && !inFree($2 + 0)) $2 = "-"; print; next }
    $1 == "import" { if ($2 in dlls) print; next }
    $1 == "slots" { if (wantSlots) print; next }
    $1 == "subsystem" { if (wantSubsystem) print; next }
    $1 == "section" { if ($2 in sections) print; next }
  ' | sort -u)
  missing=$(comm -23 <(printf '%s\n' "$expected") <(printf '%s\n' "$actual") | sed '/^$/d')
  extra=$(comm -13 <(printf '%s\n' "$expected") <(printf '%s\n' "$actual") | sed '/^$/d')
  name=$(basename "$file")
  if [ -z "$missing" ] && [ -z "$extra" ]; then
    echo "ok   $name ($(printf '%s\n' "$expected" | grep -c . || true) items of $(basename "$table"))"
  else
    status=1
    echo "FAIL $name against $(basename "$table"):"
    [ -n "$missing" ] && printf '%s\n' "$missing" | sed 's/^/  missing: /'
    [ -n "$extra" ] && printf '%s\n' "$extra" | sed 's/^/  not in the table: /'
  fi
done
exit $status
