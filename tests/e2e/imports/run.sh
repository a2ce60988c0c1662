#!/usr/bin/env bash
# The Windows programs must not be able to change the registry: none may import
# a registry function that writes, nor carry the name of one for a look-up at
# run time (GetProcAddress, the way NtQueryKey is found).
#
#   run.sh EXE...
#
# Prints the registry functions each program imports and the registry function
# names it holds. Exit status: 0 all clean, 1 a program imports or names a
# writing function (or cannot be read), 77 none of the programs is built.

set -u

objdump=x86_64-w64-mingw32-objdump
strings_tool=x86_64-w64-mingw32-strings
if ! command -v "$objdump" >/dev/null; then
    echo "$objdump not found: skipping"
    exit 77
fi
command -v "$strings_tool" >/dev/null || strings_tool="strings"

if [ $# -eq 0 ]; then
    echo "usage: $0 EXE..." >&2
    exit 2
fi

# Every way to change a key or value: the advapi32 functions, the native ones
# under both prefixes, the run-time library's and the shell's helpers. RegLoad*
# takes RegLoadMUIString along, which only reads: a false alarm to look into
# beats a writer let through.
writes='^(Reg(Set|Create|Delete|Save|Restore|Load|Replace|Flush|CopyTree|Rename|UnLoad|Unload)'
writes+='|(Nt|Zw)(Set|Create|Delete|Save|Restore|Load|Replace|Flush|Rename|Unload|Compress|Lock|Freeze|Thaw)[A-Za-z0-9]*(Key|Keys|Registry)[A-Za-z0-9]*$'
writes+='|(Nt|Zw)(SetValueKey|DeleteValueKey|SetInformationKey|SaveMergedKeys)'
writes+='|Rtl(Write|Delete|Create)Registry|RtlRegistry'
writes+='|SH(Set|Delete|Copy)(Value|Key|Empty)|SHReg(Set|Delete|Write|Create))'
registry='^(Reg[A-Z]|(Nt|Zw)[A-Za-z]*(Key|Keys|Registry)|Rtl[A-Za-z]*Registry|SH[A-Za-z]*(Reg|Key|Value))'

checked=0
failed=0
for exe in "$@"; do
    # An empty argument: that program is not given.
    [ -n "$exe" ] || continue
    if [ ! -f "$exe" ]; then
        echo "not built: $exe"
        continue
    fi
    checked=$((checked + 1))
    if ! dump=$("$objdump" -p "$exe" 2>&1); then
        echo "FAIL $exe: $objdump cannot read it: $dump" | head -n 5
        failed=1
        continue
    fi
    # "DLL Name: X" opens a DLL's list; its entries are "vma hint name" (or
    # "vma <ordinal> <none>" for an import by ordinal alone).
    imports=$(awk '
        /^[ \t]*DLL Name:/ { dll = $3; next }
        dll != "" && /^[ \t]*$/ { dll = ""; next }
        dll != "" && NF >= 3 && $1 ~ /^[0-9a-f]+$/ { print dll, $3 }
        dll != "" && NF == 2 && $1 ~ /^[0-9a-f]+$/ { print dll, "<ordinal " $2 ">" }
    ' <<<"$dump")
    if [ -z "$imports" ]; then
        echo "FAIL $exe: no import table found"
        failed=1
        continue
    fi

    echo "$exe:"
    reg_imports=$(awk '{ print $2 "  (" $1 ")" }' <<<"$imports" | grep -E "$registry" | sort)
    echo "  registry functions imported:"
    echo "${reg_imports:-(none)}" | sed 's/^/    /'

    bad=$(awk '{ print $2 }' <<<"$imports" | grep -E "$writes" | sort -u)
    if [ -n "$bad" ]; then
        echo "FAIL $exe imports registry functions that write:"
        echo "$bad" | sed 's/^/    /'
        failed=1
    fi
    # An import by ordinal alone from a DLL that holds the registry functions
    # could be any of them.
    blind=$(grep -iE '^(advapi32|ntdll|kernelbase|shlwapi|api-ms-win-core-registry)[^ ]* <ordinal' <<<"$imports")
    if [ -n "$blind" ]; then
        echo "FAIL $exe imports by ordinal from a DLL with registry functions:"
        echo "$blind" | sed 's/^/    /'
        failed=1
    fi

    # A name looked up at run time appears only as text in the program.
    named=$("$strings_tool" -a -n 6 "$exe" | grep -E "$registry" | sort -u)
    looked_up=$(comm -13 <(awk '{ print $2 }' <<<"$imports" | sort -u) <(echo "$named"))
    echo "  other registry function names in the program (run-time look-ups):"
    echo "${looked_up:-(none)}" | sed 's/^/    /'
    bad_named=$(grep -E "$writes" <<<"$named")
    if [ -n "$bad_named" ]; then
        echo "FAIL $exe holds the names of registry functions that write:"
        echo "$bad_named" | sed 's/^/    /'
        failed=1
    fi
done

if [ "$checked" = 0 ]; then
    echo "none of the programs is built: skipping"
    exit 77
fi
if [ "$failed" != 0 ]; then
    exit 1
fi
echo "$checked programs checked: no registry function that writes"
exit 0
