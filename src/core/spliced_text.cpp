#include "core/spliced_text.h"

#include <cstring>

namespace quillet::core {

void SplicedText::clear() {
    m_own.clear();
    m_pieces.clear();
    m_size = 0;
}

void SplicedText::copy(std::string_view bytes) {
    if (!m_pieces.empty() && m_pieces.back().Own)
        m_pieces.back().Size += bytes.size();
    else
        m_pieces.push_back({true, m_own.size(), bytes.size()});
    m_own.append(bytes);
    m_size += bytes.size();
}

void SplicedText::append(std::string_view bytes) {
    if (!bytes.empty())
        copy(bytes);
}

void SplicedText::keep(std::string_view piece) {
    if (piece.size() < kReferFrom) {
        append(piece);
        return;
    }
    const auto offset = static_cast<std::size_t>(piece.data() - m_input.data());
    if (!m_pieces.empty() && !m_pieces.back().Own && m_pieces.back().Offset + m_pieces.back().Size == offset)
        m_pieces.back().Size += piece.size();
    else
        m_pieces.push_back({false, offset, piece.size()});
    m_size += piece.size();
}

std::vector<std::string_view> SplicedText::pieces() const {
    std::vector<std::string_view> views;
    views.reserve(m_pieces.size());
    for (const Piece& piece : m_pieces)
        views.emplace_back((piece.Own ? m_own.data() : m_input.data()) + piece.Offset, piece.Size);
    return views;
}

bool SplicedText::equals(std::string_view text) const {
    if (text.size() != m_size)
        return false;
    std::size_t at = 0;
    for (const Piece& piece : m_pieces) {
        const char* bytes = (piece.Own ? m_own.data() : m_input.data()) + piece.Offset;
        // A stretch kept in its own place needs no comparison.
        if (bytes != text.data() + at && std::memcmp(bytes, text.data() + at, piece.Size) != 0)
            return false;
        at += piece.Size;
    }
    return true;
}

std::string SplicedText::joined() const {
    std::string text;
    text.reserve(m_size);
    for (std::string_view piece : pieces())
        text.append(piece);
    return text;
}

} // namespace quillet::core
