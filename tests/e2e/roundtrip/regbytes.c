/* Writes every key and value below a key of HKEY_CURRENT_USER exactly as the
 * registry holds them, read through the wide API so that no code page stands
 * between: the round trip compares these listings, not just two exports.
 *
 *   regbytes.exe PATH OUTFILE     (PATH below HKEY_CURRENT_USER)
 *
 * Names are written in UTF-8 with bytes below 0x20 as \xNN,
 * data as type, size and every byte in hex. Exit status 0, or 1 when the key
 * cannot be opened or the file written. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

static FILE *out;
static int failed;

static void put_name(const wchar_t *name, DWORD length)
{
    char utf8[4 * 16384 + 4];
    int size = WideCharToMultiByte(CP_UTF8, 0, name, (int)length, utf8, sizeof utf8, NULL, NULL);
    for (int i = 0; i < size; ++i) {
        unsigned char byte = (unsigned char)utf8[i];
        if (byte < 0x20)
            fprintf(out, "\\x%02x", byte);
        else
            fputc(byte, out);
    }
}

static void dump(HKEY key, const wchar_t *path)
{
    fputs("[", out);
    put_name(path, (DWORD)wcslen(path));
    fputs("]\n", out);

    DWORD values = 0, longest_name = 0, largest_data = 0, subkeys = 0;
    if (RegQueryInfoKeyW(key, NULL, NULL, NULL, &subkeys, NULL, NULL, &values, &longest_name, &largest_data, NULL, NULL) != ERROR_SUCCESS) {
        fputs("! no key information\n", out);
        failed = 1;
        return;
    }
    wchar_t *name = malloc((longest_name + 1) * sizeof *name);
    BYTE *data = malloc(largest_data + 1);
    for (DWORD index = 0; index < values; ++index) {
        DWORD name_length = longest_name + 1, type = 0, size = largest_data + 1;
        if (RegEnumValueW(key, index, name, &name_length, NULL, &type, data, &size) != ERROR_SUCCESS) {
            fprintf(out, "! value %lu unreadable\n", (unsigned long)index);
            failed = 1;
            continue;
        }
        fputs("\"", out);
        put_name(name, name_length);
        fprintf(out, "\" type %lx size %lu:", (unsigned long)type, (unsigned long)size);
        for (DWORD i = 0; i < size; ++i)
            fprintf(out, " %02x", data[i]);
        fputs("\n", out);
    }
    free(name);
    free(data);

    for (DWORD index = 0;; ++index) {
        wchar_t sub[256];
        DWORD length = 256;
        if (RegEnumKeyExW(key, index, sub, &length, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        size_t path_length = wcslen(path);
        wchar_t *child_path = malloc((path_length + length + 2) * sizeof *child_path);
        swprintf(child_path, path_length + length + 2, L"%ls\\%ls", path, sub);
        HKEY child;
        if (RegOpenKeyExW(key, sub, 0, KEY_READ, &child) == ERROR_SUCCESS) {
            dump(child, child_path);
            RegCloseKey(child);
        } else {
            fputs("! cannot open ", out);
            put_name(child_path, (DWORD)wcslen(child_path));
            fputs("\n", out);
            failed = 1;
        }
        free(child_path);
    }
}

int wmain(int argc, wchar_t **argv)
{
    if (argc != 3)
        return 2;
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, argv[1], 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 1;
    out = _wfopen(argv[2], L"wb");
    if (out == NULL)
        return 1;
    dump(key, argv[1]);
    RegCloseKey(key);
    if (fclose(out) != 0)
        return 1;
    return failed;
}
