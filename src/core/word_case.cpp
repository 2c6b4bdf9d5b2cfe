#include "core/word_case.h"

#include "core/case_fold.h"

#include <cstdint>

namespace quillet::core {

namespace {

// The kinds, in the order gen_word_case.py numbers them.
enum WordKind : std::uint8_t { KindOther, KindLower, KindUpper, KindTitle, KindLetter, KindMark, KindDigit };

struct WordCaseRecord {
    std::uint8_t Kind;
    std::int32_t Upper;
    std::int32_t Lower;
    std::int32_t Title;
};

#include "core/word_case_data.inc"

const WordCaseRecord& recordOf(char32_t c) {
    if (c >= 0x110000)
        return kWordCaseRecords[0];
    return kWordCaseRecords[kWordCaseStage2[kWordCaseStage1[c / kWordCaseBlock]][c % kWordCaseBlock]];
}

char32_t shifted(char32_t c, std::int32_t delta) {
    return static_cast<char32_t>(static_cast<std::int32_t>(c) + delta);
}

// The character that ends right before byte offset `at`, if it is one.
bool decodeBefore(std::string_view text, std::size_t at, char32_t& cp) {
    std::size_t start = at;
    while (start > 0 && at - start < 4) {
        --start;
        if ((static_cast<unsigned char>(text[start]) & 0xC0) != 0x80)
            break;
    }
    return DecodeUtf8(text.data() + start, text.data() + at, cp) == static_cast<int>(at - start);
}

bool wordCharBefore(std::string_view text, std::size_t at) {
    char32_t cp = 0;
    return at > 0 && (!decodeBefore(text, at, cp) || IsWordChar(cp));
}

bool wordCharAt(std::string_view text, std::size_t at) {
    char32_t cp = 0;
    return at < text.size() && (DecodeUtf8(text.data() + at, text.data() + text.size(), cp) == 0 || IsWordChar(cp));
}

} // namespace

bool IsWordChar(char32_t c) {
    return c == U'_' || recordOf(c).Kind != KindOther;
}

LetterCase CaseOf(char32_t c) {
    switch (recordOf(c).Kind) {
    case KindLower:
        return LetterCase::Lower;
    case KindUpper:
        return LetterCase::Upper;
    case KindTitle:
        return LetterCase::Title;
    default:
        return LetterCase::None;
    }
}

char32_t ToUpper(char32_t c) {
    return shifted(c, recordOf(c).Upper);
}

char32_t ToLower(char32_t c) {
    return shifted(c, recordOf(c).Lower);
}

char32_t ToTitle(char32_t c) {
    return shifted(c, recordOf(c).Title);
}

bool SplitsWord(std::string_view text, std::size_t at) {
    return wordCharBefore(text, at) && wordCharAt(text, at);
}

CaseShape ShapeOf(std::string_view text) {
    int cased = 0;
    bool firstUpper = false;
    bool restLower = true;
    bool allUpper = true;
    const char* const end = text.data() + text.size();
    for (const char* p = text.data(); p < end;) {
        char32_t cp = 0;
        const int length = DecodeUtf8(p, end, cp);
        p += length == 0 ? 1 : length;
        const LetterCase letter = length == 0 ? LetterCase::None : CaseOf(cp);
        if (letter == LetterCase::None)
            continue;
        if (cased == 0)
            firstUpper = letter != LetterCase::Lower;
        else
            restLower = restLower && letter == LetterCase::Lower;
        allUpper = allUpper && letter == LetterCase::Upper;
        ++cased;
    }
    if (cased == 0)
        return CaseShape::AsWritten;
    if (!firstUpper && restLower)
        return CaseShape::Lower;
    if (firstUpper && restLower)
        return CaseShape::Capitalised;
    return allUpper ? CaseShape::Upper : CaseShape::AsWritten;
}

void AppendInShape(std::string& out, std::string_view text, CaseShape shape, bool& firstDone) {
    if (shape == CaseShape::AsWritten) {
        out.append(text);
        return;
    }
    const char* const end = text.data() + text.size();
    for (const char* p = text.data(); p < end;) {
        char32_t cp = 0;
        const int length = DecodeUtf8(p, end, cp);
        if (length == 0) {
            out.push_back(*p++);
            continue;
        }
        p += length;
        char32_t mapped = cp;
        if (shape == CaseShape::Upper) {
            mapped = ToUpper(cp);
        } else if (shape == CaseShape::Lower || firstDone) {
            mapped = ToLower(cp);
        } else if (CaseOf(cp) != LetterCase::None) {
            mapped = ToTitle(cp);
            firstDone = true;
        }
        char bytes[4];
        out.append(bytes, static_cast<std::size_t>(EncodeUtf8(mapped, bytes)));
    }
}

} // namespace quillet::core
