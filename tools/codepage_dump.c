/* Run under wine64: measures Wine's conversions of one ANSI code page.
 *
 *   codepage_dump.exe table CODE_PAGE OUT.bin
 *     every UTF-16 unit WideCharToMultiByte turns into something other than
 *     "?": little-endian 16-bit pairs, the unit and its bytes (a double-byte
 *     character as lead * 256 + trail), in the order of the units. These
 *     are src/wine/codepages/CODE_PAGE.bin.
 *   codepage_dump.exe bytes CODE_PAGE OUT.txt
 *     what MultiByteToWideChar makes of every byte and of every lead byte
 *     followed by any byte: "L ll" for each lead byte, then "M bb units" and
 *     "M lltt units", the units in hex, four digits each. The input of
 *     tools/wine_code_page_gen.py.
 */
/* Build: x86_64-w64-mingw32-gcc -O2 -o codepage_dump.exe codepage_dump.c */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int dump_table(UINT cp, FILE* out)
{
    for (unsigned u = 0; u < 65536; ++u) {
        WCHAR unit = (WCHAR)u;
        unsigned char bytes[8];
        int n = WideCharToMultiByte(cp, 0, &unit, 1, (char*)bytes, sizeof bytes, NULL, NULL);
        unsigned code;
        if (n == 1)
            code = bytes[0];
        else if (n == 2)
            code = bytes[0] * 256u + bytes[1];
        else
            continue;
        /* "?" is what the table's absence means: the default character. */
        if (code == '?')
            continue;
        unsigned char pair[4] = { (unsigned char)u, (unsigned char)(u >> 8), (unsigned char)code, (unsigned char)(code >> 8) };
        fwrite(pair, 1, sizeof pair, out);
    }
    return 0;
}

static void measure(FILE* out, UINT cp, const unsigned char* bytes, int length)
{
    WCHAR units[8];
    int n = MultiByteToWideChar(cp, 0, (const char*)bytes, length, units, 8);
    fprintf(out, "M ");
    for (int i = 0; i < length; ++i)
        fprintf(out, "%02x", bytes[i]);
    if (n > 0)
        fprintf(out, " ");
    for (int i = 0; i < n; ++i)
        fprintf(out, "%04x", units[i]);
    fprintf(out, "\n");
}

static int dump_bytes(UINT cp, FILE* out)
{
    for (unsigned lead = 0; lead < 256; ++lead) {
        if (IsDBCSLeadByteEx(cp, (BYTE)lead))
            fprintf(out, "L %02x\n", lead);
    }
    for (unsigned byte = 0; byte < 256; ++byte) {
        unsigned char one = (unsigned char)byte;
        measure(out, cp, &one, 1);
    }
    for (unsigned lead = 0; lead < 256; ++lead) {
        if (!IsDBCSLeadByteEx(cp, (BYTE)lead))
            continue;
        for (unsigned trail = 0; trail < 256; ++trail) {
            unsigned char two[2] = { (unsigned char)lead, (unsigned char)trail };
            measure(out, cp, two, 2);
        }
    }
    return 0;
}

int main(int argc, char** argv)
{
    if (argc != 4 || (strcmp(argv[1], "table") != 0 && strcmp(argv[1], "bytes") != 0)) {
        fprintf(stderr, "usage: codepage_dump.exe table|bytes CODE_PAGE OUT\n");
        return 2;
    }
    UINT cp = (UINT)atoi(argv[2]);
    FILE* out = fopen(argv[3], "wb");
    if (out == NULL)
        return 1;
    int status = strcmp(argv[1], "table") == 0 ? dump_table(cp, out) : dump_bytes(cp, out);
    if (fclose(out) != 0)
        return 1;
    return status;
}
