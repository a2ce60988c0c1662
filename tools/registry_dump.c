/* Run under wine64 on a prefix holding tests/data/wine/forms/user.reg:
 * prints HKEY_CURRENT_USER\Software\T and three levels below it as the A
 * functions give them, every status included, in the form the Wine prefix
 * registry's unit test prints (tests/data/wine/forms/expected_*.txt, one per
 * ANSI code page the locale gives). Names and data are in hex.
 */
/* Build: x86_64-w64-mingw32-gcc -O2 -o registry_dump.exe registry_dump.c */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static unsigned char data[1 << 20];

static void print_hex(const unsigned char* bytes, size_t length)
{
    for (size_t i = 0; i < length; ++i)
        printf("%02x", bytes[i]);
}

static void print_values(HKEY key, DWORD count)
{
    for (DWORD index = 0; index < count + 1; ++index) {
        char name[4096] = { 0 };
        DWORD name_length = sizeof name;
        DWORD type = 0;
        DWORD data_size = sizeof data;
        LONG status = RegEnumValueA(key, index, name, &name_length, NULL, &type, data, &data_size);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        printf("  V%lu st=%ld nl=%lu name=", (unsigned long)index, (long)status, (unsigned long)name_length);
        print_hex((const unsigned char*)name, strlen(name));
        printf(" type=%lu ds=%lu data=", (unsigned long)type, (unsigned long)data_size);
        if (status == ERROR_SUCCESS)
            print_hex(data, data_size);
        printf("\n");
    }
}

static void dump(HKEY key, const char* path, int depth)
{
    DWORD values = 0;
    DWORD largest_data = 0;
    // The figures the tool asks for: the longest value name it does not.
    LONG status = RegQueryInfoKeyA(key, NULL, NULL, NULL, NULL, NULL, NULL, &values, NULL, &largest_data, NULL, NULL);
    if (status != ERROR_SUCCESS)
        values = largest_data = 0;
    printf("K ");
    print_hex((const unsigned char*)path, strlen(path));
    printf(" info=%ld nv=%lu mvd=%lu\n", (long)status, (unsigned long)values, (unsigned long)largest_data);
    print_values(key, values);
    if (depth == 0)
        return;
    for (DWORD index = 0;; ++index) {
        char name[4096];
        if (RegEnumKeyA(key, index, name, sizeof name) != ERROR_SUCCESS)
            break;
        HKEY subkey;
        status = RegOpenKeyExA(key, name, 0, KEY_READ, &subkey);
        if (status != ERROR_SUCCESS) {
            printf("  open ");
            print_hex((const unsigned char*)name, strlen(name));
            printf(" st=%ld\n", (long)status);
            continue;
        }
        size_t length = strlen(path) + 1 + strlen(name) + 1;
        char* below = malloc(length);
        if (below == NULL)
            exit(1);
        snprintf(below, length, "%s\\%s", path, name);
        dump(subkey, below, depth - 1);
        free(below);
        RegCloseKey(subkey);
    }
}

int main(void)
{
    HKEY key;
    LONG status = RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\T", 0, KEY_READ, &key);
    printf("open=%ld\n", (long)status);
    if (status != ERROR_SUCCESS)
        return 1;
    dump(key, "Software\\T", 3);
    RegCloseKey(key);
    return 0;
}
