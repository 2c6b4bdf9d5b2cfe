// Splits a fuzzer's bytes into the pieces a target needs, each capped.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <string>

namespace quillet::fuzz {

// A property that must hold for every input: abort (the fuzzer's signal of a
// finding) with what failed.
inline void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "property failed: %s\n", what);
        std::abort();
    }
}

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    std::uint8_t byte() { return m_at < m_size ? m_data[m_at++] : 0; }

    // Bytes up to the next NUL (which is dropped), at most `cap` of them.
    std::string piece(std::size_t cap) {
        std::string out;
        while (m_at < m_size && m_data[m_at] != 0 && out.size() < cap)
            out.push_back(static_cast<char>(m_data[m_at++]));
        while (m_at < m_size && m_data[m_at] != 0)
            ++m_at;
        if (m_at < m_size)
            ++m_at;
        return out;
    }

    std::string rest(std::size_t cap) {
        const std::size_t left = m_size - m_at;
        std::string out(reinterpret_cast<const char*>(m_data + m_at), left < cap ? left : cap);
        m_at = m_size;
        return out;
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};

} // namespace quillet::fuzz
