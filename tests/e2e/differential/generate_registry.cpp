// Writes the registry files that the generator makes from a seed, for the
// comparison with Wine on random prefixes; or those a structured fuzz input
// stands for, to look at a finding.
//
// usage: generate_registry SEED DIR
//          DIR/user.reg, DIR/system.reg, DIR/userdef.reg: sections to append
//          to a booted prefix's files (empty when there are none);
//          DIR/keys: the keys to export, one a line
//        generate_registry --input FUZZ_INPUT DIR
//          DIR/*.reg: the whole files of the fuzz input (missing ones left
//          out); DIR/keys as above

#include "reg_generator.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace {

bool write(const std::filesystem::path& path, const std::string& text)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(text.data(), static_cast<std::streamsize>(text.size()));
    return static_cast<bool>(file.flush());
}

} // namespace

int main(int argc, char** argv)
{
    using namespace hivedump::testing;
    bool fuzz_input = argc == 4 && std::string(argv[1]) == "--input";
    if (argc != 3 && !fuzz_input) {
        std::fprintf(stderr, "usage: generate_registry SEED DIR | --input FUZZ_INPUT DIR\n");
        return 2;
    }
    std::string bytes;
    if (fuzz_input) {
        std::ifstream file(argv[2], std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        // The fuzz target's flags byte.
        if (!bytes.empty())
            bytes.erase(0, 1);
    } else {
        std::mt19937 random(static_cast<std::mt19937::result_type>(std::strtoul(argv[1], nullptr, 10)));
        for (int count = 0; count < 16384; ++count)
            bytes.push_back(static_cast<char>(random() & 0xFF));
    }
    ByteChoices choices(bytes);
    auto generated = generate_prefix(choices, { .for_wine = !fuzz_input });

    std::filesystem::path directory(argv[fuzz_input ? 3 : 2]);
    std::filesystem::create_directories(directory);
    bool ok = true;
    for (const auto& [name, file] : { std::pair{ "user.reg", &generated.user }, std::pair{ "system.reg", &generated.machine },
             std::pair{ "userdef.reg", &generated.default_user } }) {
        if (fuzz_input && file->present)
            ok = write(directory / name, file->text()) && ok;
        else if (!fuzz_input)
            ok = write(directory / name, file->body) && ok;
    }
    std::string keys;
    for (const auto& key : generated.keys)
        keys += key + "\n";
    ok = write(directory / "keys", keys) && ok;
    return ok ? 0 : 1;
}
