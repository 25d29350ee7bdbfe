// Takes typed values and byte runs off the front of a fuzzer's input. Past the end
// every value is zero and every run empty, so a target never reads beyond its input.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : m_data(data), m_left(size) {}

    template <class T>
    T Take() {
        static_assert(std::is_trivially_copyable_v<T>);
        T value{};
        const size_t n = std::min(sizeof(T), m_left);
        std::memcpy(&value, m_data, n);
        Skip(n);
        return value;
    }
    // At most `wanted` bytes; `*got` receives how many there were.
    const uint8_t* Bytes(size_t wanted, size_t* got) {
        *got = std::min(wanted, m_left);
        const uint8_t* start = m_data;
        Skip(*got);
        return start;
    }
    const uint8_t* Rest(size_t* got) { return Bytes(m_left, got); }
    size_t Left() const { return m_left; }

private:
    void Skip(size_t n) {
        m_data += n;
        m_left -= n;
    }
    const uint8_t* m_data;
    size_t m_left;
};
