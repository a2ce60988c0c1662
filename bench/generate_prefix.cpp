// Writes a synthetic Wine prefix: user.reg holding `keys` keys below
// Software\Bench, with values of every type, escapes and non-ASCII names,
// in the syntax wineserver writes.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

void write_value_lines(std::FILE* out, unsigned long key)
{
    std::fprintf(out, "@=\"default %lu\"\n", key);
    std::fprintf(out, "\"Path\"=\"C:\\\\Program Files\\\\Bench\\\\%lu\"\n", key);
    std::fprintf(out, "\"Quoted\"=\"say \\\"hi\\\" to caf\\xe9 \\x30c6\\x30b9\\x30c8\"\n");
    std::fprintf(out, "\"Count\"=dword:%08lx\n", key);
    std::fprintf(out, "\"Expand\"=str(2):\"%%SystemRoot%%\\\\system32\\\\%lu\"\n", key);
    std::fprintf(out, "\"List\"=str(7):\"one\\0two\\0three %lu\\0\"\n", key);
    std::fprintf(out, "\"Blob\"=hex:");
    for (int i = 0; i < 40; ++i)
        std::fprintf(out, i == 0 ? "%02x" : (i == 20 ? ",\\\n  %02x" : ",%02x"), static_cast<unsigned>((key + i) & 0xFF));
    std::fprintf(out, "\n\"Quad\"=hex(b):%02lx,00,00,00,00,00,00,00\n", key & 0xFF);
    std::fprintf(out, "\"Big\"=hex(5):00,00,01,%02lx\n", key & 0xFF);
    std::fprintf(out, "\"\\xe9t\\xe9 \\x65e5\\x672c\"=\"unicode name\"\n\n");
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: generate_prefix DIR KEYS\n");
        return 2;
    }
    std::filesystem::path dir = argv[1];
    unsigned long keys = std::strtoul(argv[2], nullptr, 10);
    std::filesystem::create_directories(dir);
    std::FILE* out = std::fopen((dir / "user.reg").c_str(), "wb");
    if (out == nullptr)
        return 1;
    std::fprintf(out, "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win64\n\n");
    // Groups of 100 keys under 100 parents each keep the tree three levels deep.
    for (unsigned long key = 0; key < keys; ++key) {
        std::fprintf(out, "[Software\\\\Bench\\\\Group %lu\\\\Part %lu\\\\Key %lu] 1796699325\n#time=1dd86c1702d5ef0\n", key / 10000,
            (key / 100) % 100, key);
        write_value_lines(out, key);
    }
    return std::fclose(out) == 0 ? 0 : 1;
}
