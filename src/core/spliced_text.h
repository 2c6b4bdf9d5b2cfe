// A text operation's output kept as a splice of its input: the long stretches
// the operation carried over stay where they are in the input, and only the
// bytes it made (and short kept stretches, which are cheaper to copy than to
// track) are copied. A large file with a few matches is then written straight
// from the bytes that were read, with no second copy of it in memory.
#pragma once

#include "core/text_ops.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::core {

class SplicedText final : public TextSink {
public:
    // Kept stretches at least this long are referred to, not copied.
    static constexpr std::size_t kReferFrom = 4096;

    // `input` is the text given to ProcessText (precondition: every piece
    // passed to keep() lies in it). It must outlive this object's pieces;
    // moving this object keeps them valid as long as the input's bytes stay
    // where they are.
    SplicedText() = default;
    explicit SplicedText(std::string_view input) : m_input(input) {}

    void clear() override;
    void reserve(std::size_t) override {}
    void append(std::string_view bytes) override;
    void keep(std::string_view piece) override;

    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    // The text in order, as views into the input and into this object's own
    // bytes. Valid until this object is changed, moved or destroyed.
    std::vector<std::string_view> pieces() const;
    // Whether the spliced text has exactly the bytes of `text`.
    bool equals(std::string_view text) const;
    // The text as one string.
    std::string joined() const;

private:
    // A stretch of the input (Own false: Offset into the input) or of m_own.
    struct Piece {
        bool Own = false;
        std::size_t Offset = 0;
        std::size_t Size = 0;
    };
    void copy(std::string_view bytes);

    std::string_view m_input;
    std::string m_own;
    std::vector<Piece> m_pieces;
    std::size_t m_size = 0;
};

} // namespace quillet::core
