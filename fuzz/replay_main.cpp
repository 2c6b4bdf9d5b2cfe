// Runs a fuzz target without libFuzzer: on the files named on the command
// line, or else on inputs drawn from a fixed seed out of bytes that make
// patterns, path lists and argument lists interesting ('*', '{$1}', '<', case
// pairs, UTF-8, '-', line ends, NUL separators). The tests run it this way; a
// clang build with QUILLET_BUILD_FUZZERS makes real fuzzers of the same targets.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    if (argc > 1) {
        for (int i = 1; i < argc; ++i) {
            std::ifstream in(argv[i], std::ios::binary);
            const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        }
        return 0;
    }
    // The UTF-8 bytes join into é, É, the Kelvin sign, ſ, в and ᲀ now and then.
    const std::string alphabet = std::string("aAbB*?.;<>/=x{$1}2 ksK-\r\n") + '\0' +
                                 "\xe9\xc9\xc3\xa9\x89\xe2\x84\xaa\xc5\xbf\xd0\xb2\xe1\xb2\x80";
    std::mt19937 random(1234);
    std::vector<std::uint8_t> input;
    for (int run = 0; run < 30000; ++run) {
        input.clear();
        input.push_back(static_cast<std::uint8_t>(random()));
        const std::size_t length = random() % 48;
        for (std::size_t i = 0; i < length; ++i)
            input.push_back(static_cast<std::uint8_t>(alphabet[random() % alphabet.size()]));
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::puts("30000 inputs, every property held");
    return 0;
}
