#include "core/text_lines.h"

#include "core/checks.h"

#include <cstring>

namespace quillet::core {

std::size_t LineEndAt(std::string_view text, std::size_t offset) {
    const std::size_t end = text.find('\n', offset);
    return end == std::string_view::npos ? text.size() : end;
}

std::int64_t ColumnAt(std::string_view text, std::size_t lineStart, std::size_t offset, bool characters) {
    if (!characters)
        return static_cast<std::int64_t>(offset - lineStart) + 1;
    std::int64_t column = 1;
    for (std::size_t i = lineStart; i < offset; ++i)
        column += (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 ? 1 : 0;
    return column;
}

std::int64_t LineCounter::seek(std::size_t offset) {
    QUILLET_ASSERT(offset >= m_counted && offset <= m_text.size(), "line offsets go forward, within the text");
    const char* at = m_text.data() + m_counted;
    const char* const end = m_text.data() + offset;
    while (const void* nl = std::memchr(at, '\n', static_cast<std::size_t>(end - at))) {
        ++m_line;
        at = static_cast<const char*>(nl) + 1;
        m_lineStart = static_cast<std::size_t>(at - m_text.data());
    }
    m_counted = offset;
    return m_line;
}

} // namespace quillet::core
