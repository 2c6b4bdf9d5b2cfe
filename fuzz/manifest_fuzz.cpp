// Fuzz target: the run journal's manifest reader on what a crash or a hand
// can leave: lines of every kind with fields drawn from the input (or the
// input itself as the text), then cut anywhere. Undo acts on what it reads,
// so what it reads must never lead outside the folder the run wrote in.
#include "engine/keep/journal_manifest.h"
#include "fuzz_input.h"

#include <iterator>
#include <string>

using namespace quillet::engine;
using quillet::fuzz::require;

namespace {

// A name or a folder: often one a run never writes.
std::string pathPiece(quillet::fuzz::Input& input, bool folder) {
    static const std::string names[] = {"", ".", "..", "a/b", std::string("x\0y", 3), "f.txt"};
    static const std::string folders[] = {"", "/", "relative", std::string("/a\0b", 4), "/tmp", "/a/../b"};
    const std::uint8_t pick = input.byte();
    if (pick % 2 == 0)
        return input.piece(12);
    return folder ? folders[pick / 2 % std::size(folders)] : names[pick / 2 % std::size(names)];
}

// A manifest from the input: mostly lines shaped as a run writes them, with
// fields (names, folders, numbers) that need not be what a run writes.
std::string manifestOf(quillet::fuzz::Input& input, std::uint8_t flags) {
    std::string text;
    if ((flags & 1) == 0)
        text = ManifestHeaderLines("id", 1, "what");
    if ((flags & 2) != 0)
        return text + input.rest(4096);
    for (int line = 0; line < 24; ++line) {
        const std::uint8_t kind = input.byte();
        const unsigned number = input.byte() % 5u;
        const std::string words = EscapeJournalText(input.piece(8));
        switch (kind % 8) {
        case 0:
        case 1: {
            const char* kept[] = {"link", "copy", "packed", "none"};
            text += "old " + std::to_string(number) + ' ' + kept[kind / 8 % 4] + " 1 0 3 1 2 3 4 " +
                    std::to_string(input.byte() * 64) + " 0 0 " + EscapeJournalText(pathPiece(input, true)) + ' ' +
                    EscapeJournalText(pathPiece(input, false)) + " listed \\-" + (kind / 32 % 2 == 0 ? " 0" : "") +
                    '\n';
            break;
        }
        case 2:
            text += "new " + std::to_string(number) + " 1 2 3 4\n";
            break;
        case 3:
            text += "done " + std::to_string(number) + " 1 2 3 4\n";
            break;
        case 4:
            text += "restored " + std::to_string(number) + '\n';
            break;
        case 5:
            text += ManifestKeptLine(number) + ManifestFilesLine(number, input.byte() % 5u);
            break;
        case 6:
            text += ManifestEndLine(number);
            break;
        default:
            text += words + '\n'; // any line at all
            break;
        }
    }
    return text;
}

bool isSingleComponent(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    quillet::fuzz::Input input(data, size);
    const std::uint8_t flags = input.byte();
    const std::string text = manifestOf(input, flags);
    const auto whole = ParseManifest(text);
    if (!whole)
        return 0;
    for (const JournalEntry& entry : whole->Entries) {
        if (entry.Damaged) {
            require(entry.Name.empty() && entry.Directory.empty(), "a damaged entry names no file");
            continue;
        }
        require(isSingleComponent(entry.Name), "a name is one path component");
        require(entry.Directory.starts_with('/') || (entry.Directory.empty() && entry.Kept == KeptAs::None),
                "a kept file's folder is an absolute path");
        require(entry.Directory.find('\0') == std::string::npos, "a folder holds no NUL");
        require((entry.Mode & ~0777u) == 0, "no set-id bit comes from the text");
        require(entry.Old.Size >= 0 && entry.Bytes >= 0 && entry.PackOffset >= 0, "sizes are not negative");
    }
    // A manifest cut short, as a crash leaves it, reads as the entries of
    // its whole lines: never one the whole text does not hold.
    for (std::size_t cut = text.size(); cut > 0; cut = cut * (flags >> 4) / 16) {
        const auto part = ParseManifest(std::string_view(text).substr(0, cut));
        if (!part)
            continue;
        require(part->Entries.size() <= whole->Entries.size(), "a cut text holds no more entries");
        for (std::size_t i = 0; i < part->Entries.size(); ++i)
            require(part->Entries[i].Number == whole->Entries[i].Number &&
                        part->Entries[i].Name == whole->Entries[i].Name &&
                        part->Entries[i].Directory == whole->Entries[i].Directory,
                    "a cut text reads as a prefix of the entries");
    }
    return 0;
}
