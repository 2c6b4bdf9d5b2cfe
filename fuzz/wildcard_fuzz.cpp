// Fuzz target: file-name masks on arbitrary names and masks.
#include "core/upper_table.h"
#include "finder/file_mask.h"
#include "finder/wildcard.h"
#include "fuzz_input.h"

#include <fnmatch.h>

#include <cstdio>
#include <cstdlib>

using namespace quillet::finder;
using quillet::fuzz::require;

namespace {

std::string upper(std::string s) {
    for (char& c : s)
        c = static_cast<char>(quillet::core::upperByte(c));
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    quillet::fuzz::Input input(data, size);
    const std::string mask = input.piece(24);
    const std::string name = input.rest(64);
    if (name.empty())
        return 0;
    const bool exact = MatchesWildcard(name, mask, false);
    const bool folded = MatchesWildcard(name, mask, true);
    require(folded == MatchesWildcard(upper(name), upper(mask), false) || mask == name,
            "ignoring case is comparing upper-cased copies");
    require(MatchesWildcard(name, name, false), "a name fits itself");
    // The single scan may be more lenient than a glob (its end rule, its
    // right-aligned tail), never stricter. Only a glob's fit carries over to
    // ignoring case: a lenient fit need not, because folding can move where a
    // middle run is first found. "[" opens a set only for the glob,
    // and a NUL would end its name early.
    if (!mask.empty() && mask.find('[') == std::string::npos && name.find('\0') == std::string::npos &&
        fnmatch(mask.c_str(), name.c_str(), FNM_NOESCAPE) == 0)
        require(exact && folded, "a name a glob accepts fits the mask, also without regard to case");
    require(MatchesWildcard(name, "*", false) && MatchesWildcard(name, "***", true), "'*' fits every name");
    // A "!" would make a token an exclusion, which may leave the name out.
    if (name.find(';') == std::string::npos && name.front() != '!' && mask.find('!') == std::string::npos)
        require(MatchesAnyMask(name, mask + ";" + name, false), "one fitting mask of several is enough");
    std::string cut = mask;
    const auto star = CutAtStar(cut);
    require(star == 0 ? cut == mask : cut == mask.substr(0, static_cast<std::size_t>(star - 1)), "CutAtStar cuts");
    return 0;
}
