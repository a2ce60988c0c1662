#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
int main(int argc, char** argv) {
    UINT cp = (UINT)atoi(argv[1]);
    FILE* f = fopen(argv[2], "wb");
    for (unsigned u = 0; u < 65536; ++u) {
        WCHAR w = (WCHAR)u; char out[8]; 
        int n = WideCharToMultiByte(cp, 0, &w, 1, out, sizeof out, NULL, NULL);
        unsigned char rec[3] = {(unsigned char)n, n > 0 ? (unsigned char)out[0] : 0, n > 1 ? (unsigned char)out[1] : 0};
        fwrite(rec, 1, 3, f);
    }
    fclose(f);
    printf("acp=%u\n", GetACP());
    return 0;
}
