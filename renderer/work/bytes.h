// Plain records to bytes and back, for what travels between the processes
// of a distributed job. Every process runs the same build on the same kind
// of machine, so plain values go over as they lie in memory; the reader
// refuses to run past the end rather than trusting a length it was sent.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

namespace vosh::render {

struct ByteWriter {
    std::vector<unsigned char> bytes;
};

template <typename T>
void put(ByteWriter& w, const T& value) {
    static_assert(std::is_trivially_copyable_v<T>, "plain values only");
    const auto* p = reinterpret_cast<const unsigned char*>(&value);
    w.bytes.insert(w.bytes.end(), p, p + sizeof value);
}

template <typename T>
void put_vector(ByteWriter& w, const std::vector<T>& values) {
    static_assert(std::is_trivially_copyable_v<T>, "plain values only");
    put(w, static_cast<uint64_t>(values.size()));
    const auto* p = reinterpret_cast<const unsigned char*>(values.data());
    w.bytes.insert(w.bytes.end(), p, p + values.size() * sizeof(T));
}

inline void put_string(ByteWriter& w, const std::string& text) {
    put(w, static_cast<uint64_t>(text.size()));
    w.bytes.insert(w.bytes.end(), text.begin(), text.end());
}

struct ByteReader {
    const unsigned char* at = nullptr;
    const unsigned char* end = nullptr;
    bool ok = true;  // false once a read ran past the end; later reads give zeros
};

inline ByteReader reader_of(const std::vector<unsigned char>& bytes) {
    return {bytes.data(), bytes.data() + bytes.size(), true};
}

inline bool take_bytes(ByteReader& r, void* out, uint64_t size) {
    if (!r.ok || size > static_cast<uint64_t>(r.end - r.at)) {
        r.ok = false;
        return false;
    }
    if (size) std::memcpy(out, r.at, size);
    r.at += size;
    return true;
}

template <typename T>
void get(ByteReader& r, T& value) {
    static_assert(std::is_trivially_copyable_v<T>, "plain values only");
    if (!take_bytes(r, &value, sizeof value)) value = T{};
}

template <typename T>
void get_vector(ByteReader& r, std::vector<T>& values) {
    uint64_t n = 0;
    get(r, n);
    if (!r.ok || n > static_cast<uint64_t>(r.end - r.at) / sizeof(T)) {
        r.ok = false;
        values.clear();
        return;
    }
    values.resize(n);
    take_bytes(r, values.data(), n * sizeof(T));
}

inline void get_string(ByteReader& r, std::string& text) {
    std::vector<char> chars;
    get_vector(r, chars);
    text.assign(chars.begin(), chars.end());
}

}  // namespace vosh::render
