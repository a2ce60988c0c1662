/* Changes the registry below a key as fast as it can, for the load test:
 * creates and deletes subkeys (whole subtrees too), sets values of every kind
 * with sizes that jump past what the key held before, deletes values.
 *
 *   churn.exe PATH SECONDS     (PATH below HKEY_CURRENT_USER, created if need be)
 *
 * Every value it writes can be checked on its own, whenever it was read:
 *   "bin..."  REG_BINARY: 4 bytes of length (least significant first), a seed
 *             byte, then byte i (from 5 on) = seed + i;
 *   "str..."  REG_SZ: the decimal length of the rest, ':', then that many 's';
 *   "dw..."   REG_DWORD: any number;
 *   "multi.." REG_MULTI_SZ: "m" strings of one to nine 'm';
 * and "é..." names the binary kind under a name beyond ASCII.
 * check_export.cpp knows these forms. Prints the counts on exit; exit status 0,
 * or 1 when the key cannot be opened or a change fails in a way it should not. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

static unsigned long long state = 88172645463325252ull;

static unsigned next_random(void)
{
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return (unsigned)(state >> 11);
}

static unsigned long long operations, sets, value_deletes, key_creates, tree_deletes, unexpected;

/* Sizes: mostly small, now and then far larger than anything before. */
static DWORD random_size(void)
{
    switch (next_random() % 8) {
    case 0:
        return 0;
    case 1:
        return 60000 + next_random() % 40000;
    case 2:
    case 3:
        return 4000 + next_random() % 8000;
    default:
        return next_random() % 300;
    }
}

static void set_value(HKEY key, BYTE *buffer)
{
    wchar_t name[32];
    unsigned slot = next_random() % 12;
    LONG status;
    switch (next_random() % 5) {
    case 0:
    case 1: {
        DWORD size = random_size() + 5;
        BYTE seed = (BYTE)next_random();
        memcpy(buffer, &size, 4);
        buffer[4] = seed;
        for (DWORD i = 5; i < size; ++i)
            buffer[i] = (BYTE)(seed + i);
        swprintf(name, 32, slot % 4 == 0 ? L"\u00e9bin%u" : L"bin%u", slot);
        status = RegSetValueExW(key, name, 0, REG_BINARY, buffer, size);
        break;
    }
    case 2: {
        DWORD length = random_size() / 2;
        char *text = (char *)buffer;
        int prefix = sprintf(text, "%lu:", (unsigned long)length);
        memset(text + prefix, 's', length);
        text[prefix + length] = '\0';
        char ansi[32];
        sprintf(ansi, "str%u", slot);
        status = RegSetValueExA(key, ansi, 0, REG_SZ, buffer, (DWORD)(prefix + length + 1));
        break;
    }
    case 3: {
        DWORD number = next_random();
        swprintf(name, 32, L"dw%u", slot);
        status = RegSetValueExW(key, name, 0, REG_DWORD, (const BYTE *)&number, 4);
        break;
    }
    default: {
        unsigned count = 1 + next_random() % 20;
        char *at = (char *)buffer;
        for (unsigned i = 0; i < count; ++i) {
            unsigned length = 1 + next_random() % 9;
            memset(at, 'm', length);
            at += length;
            *at++ = '\0';
        }
        *at++ = '\0';
        char ansi[32];
        sprintf(ansi, "multi%u", slot);
        status = RegSetValueExA(key, ansi, 0, REG_MULTI_SZ, buffer, (DWORD)(at - (char *)buffer));
        break;
    }
    }
    if (status == ERROR_SUCCESS)
        ++sets;
    else if (status != ERROR_KEY_DELETED)
        ++unexpected;
}

static void delete_value(HKEY key)
{
    static const wchar_t *const kinds[] = { L"bin%u", L"\u00e9bin%u", L"str%u", L"dw%u", L"multi%u" };
    wchar_t name[32];
    swprintf(name, 32, kinds[next_random() % 5], next_random() % 12);
    LONG status = RegDeleteValueW(key, name);
    if (status == ERROR_SUCCESS)
        ++value_deletes;
    else if (status != ERROR_FILE_NOT_FOUND && status != ERROR_KEY_DELETED)
        ++unexpected;
}

/* A path of one to four levels below the root, from a small set of names so
 * that the same keys come and go. */
static void random_path(wchar_t *path, size_t size)
{
    unsigned depth = 1 + next_random() % 4;
    path[0] = L'\0';
    for (unsigned level = 0; level < depth; ++level) {
        size_t used = wcslen(path);
        swprintf(path + used, size - used, level == 0 ? L"k%u" : L"\\k%u", next_random() % 4);
    }
}

int wmain(int argc, wchar_t **argv)
{
    if (argc != 3)
        return 2;
    HKEY root;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, argv[1], 0, NULL, 0, KEY_ALL_ACCESS, NULL, &root, NULL) != ERROR_SUCCESS) {
        fprintf(stderr, "churn: cannot open the key\n");
        return 1;
    }
    ULONGLONG end = GetTickCount64() + (ULONGLONG)_wtoi(argv[2]) * 1000;
    BYTE *buffer = malloc(200000);
    if (buffer == NULL)
        return 1;

    while (GetTickCount64() < end) {
        wchar_t path[64];
        random_path(path, 64);
        unsigned what = next_random() % 16;
        ++operations;
        if (what == 0) {
            /* Deleting a whole subtree now and then, keys the export may be inside. */
            LONG status = RegDeleteTreeW(root, path);
            if (status == ERROR_SUCCESS)
                ++tree_deletes;
            else if (status != ERROR_FILE_NOT_FOUND)
                ++unexpected;
            continue;
        }
        HKEY key = root;
        int opened = 0;
        if (what > 3) {
            DWORD disposition = 0;
            if (RegCreateKeyExW(root, path, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, &disposition) != ERROR_SUCCESS) {
                ++unexpected;
                continue;
            }
            opened = 1;
            if (disposition == REG_CREATED_NEW_KEY)
                ++key_creates;
        }
        if (what % 3 == 0)
            delete_value(key);
        else
            set_value(key, buffer);
        if (opened)
            RegCloseKey(key);
    }
    RegCloseKey(root);
    free(buffer);
    printf("churn: %llu operations: %llu values set, %llu values deleted, %llu keys created, %llu subtrees deleted, %llu unexpected failures\n",
           operations, sets, value_deletes, key_creates, tree_deletes, unexpected);
    fflush(stdout);
    return unexpected == 0 ? 0 : 1;
}
