// What every fuzz target shares: taking typed values from the fuzzer's bytes,
// and stopping on a broken property so that libFuzzer keeps the input.
#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace station::fuzz {

// The fuzzer's bytes, taken from the front. Taking past the end gives zeros,
// so every input is a valid one.
class Input {
public:
    Input(const std::uint8_t *data, std::size_t size) : m_data(data), m_size(size) {}

    std::size_t remaining() const { return m_size - m_pos; }
    bool empty() const { return m_pos == m_size; }

    std::uint8_t byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }

    // sizeof(T) bytes as the bit pattern of a T (any double, NaN included).
    template <typename T>
    T take()
    {
        static_assert(std::is_trivially_copyable_v<T>);
        unsigned char bytes[sizeof(T)] = {};
        for (auto &b : bytes)
            b = byte();
        T value;
        std::memcpy(&value, bytes, sizeof value);
        return value;
    }

    // Up to n further bytes (fewer at the end).
    const std::uint8_t *takeBytes(std::size_t n, std::size_t *got)
    {
        *got = n < remaining() ? n : remaining();
        const std::uint8_t *p = m_data + m_pos;
        m_pos += *got;
        return p;
    }

    // Everything left, read as UTF-8 (invalid sequences become U+FFFD).
    QString restAsText();

private:
    const std::uint8_t *m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

// Prints the broken property and aborts: libFuzzer saves the input as a crash
// artifact, the replay driver fails the test.
[[noreturn]] void fail(const char *property, const QString &detail);

// Deviations from a documented rule that a target has found and that are
// reported but not fixed yet (fuzz/README.md lists them). They are tolerated so
// that the fuzzer keeps looking for others; STATION_FUZZ_STRICT=1 stops on them.
bool tolerated(const char *finding);

// Only digits, at most one point and a leading minus sign: what the value
// texts of the station look like (no exponent, no blanks, no thousands marks).
bool plainDecimal(const QString &text);

// True when back, a value read from a text, is value rounded to seven
// significant digits or closer (exact for an integral value).
bool withinSevenDigits(double back, double value);

// Text with every non-printable and non-ASCII character escaped, for messages.
QString escaped(const QString &text);

} // namespace station::fuzz

#define FUZZ_REQUIRE(condition, detail)                                     \
    do {                                                                    \
        if (!(condition))                                                   \
            ::station::fuzz::fail(#condition, (detail));                    \
    } while (false)
