/* Run under wine64: prints the ANSI code page Wine chose for the locale
 * (GetACP) and, in hex, the bytes of each argument as the program received
 * them. With --locales it lists every locale Wine knows instead, and then
 * each name given after it that Wine takes for one of them (an alias such
 * as ckb-IQ): name, ANSI code page (0: none) and LCID, one a line. */
/* Build: x86_64-w64-mingw32-gcc -O2 -o acp_probe.exe acp_probe.c */
#include <windows.h>
#include <stdio.h>
#include <string.h>

static void print_locale(LPCWSTR name)
{
    WCHAR ansi[16];
    /* An alias's LCID has the high bit set: the LCID is the low half. */
    unsigned long lcid = LocaleNameToLCID(name, 0) & 0xFFFFF;
    if (GetLocaleInfoEx(name, LOCALE_IDEFAULTANSICODEPAGE, ansi, 16))
        printf("%ls\t%ls\t%04lx\n", name, ansi, lcid);
}

static BOOL CALLBACK list_locale(LPWSTR name, DWORD flags, LPARAM unused)
{
    (void)flags;
    (void)unused;
    print_locale(name);
    return TRUE;
}

int main(int argc, char** argv)
{
    if (argc >= 2 && strcmp(argv[1], "--locales") == 0) {
        EnumSystemLocalesEx(list_locale, LOCALE_ALL, 0, NULL);
        for (int i = 2; i < argc; ++i) {
            WCHAR name[LOCALE_NAME_MAX_LENGTH];
            if (MultiByteToWideChar(CP_ACP, 0, argv[i], -1, name, LOCALE_NAME_MAX_LENGTH) != 0)
                print_locale(name);
        }
        return 0;
    }
    printf("%u", GetACP());
    for (int i = 1; i < argc; ++i) {
        printf("\t");
        for (const unsigned char* p = (const unsigned char*)argv[i]; *p != 0; ++p)
            printf("%02x", *p);
    }
    printf("\n");
    return 0;
}
