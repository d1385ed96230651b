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
    if (take_bytes(r, &value, sizeof value)) return;
    if constexpr (std::is_array_v<T>)
        std::memset(&value, 0, sizeof value);
    else
        value = T{};
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

// The two directions of a record's one field list: `fields(io, record)`
// with a WireWriter sends the fields, with a WireReader fills them in the
// same order. The reader refuses a flag that is neither 0 nor 1 and a count
// that the bytes left could not hold (each item takes at least one byte).
struct WireWriter {
    ByteWriter& w;
    template <typename T>
    void value(const T& v) { put(w, v); }
    template <typename T>
    void values(const std::vector<T>& v) { put_vector(w, v); }
    void text(const std::string& s) { put_string(w, s); }
    void flag(const bool& b) { put(w, static_cast<uint8_t>(b ? 1 : 0)); }
    void index(const size_t& i) { put(w, static_cast<uint64_t>(i)); }
    template <typename T>
    void count(const std::vector<T>& items) { put(w, static_cast<uint64_t>(items.size())); }
    void refuse_unless(bool) {}
};

struct WireReader {
    ByteReader& r;
    template <typename T>
    void value(T& v) { get(r, v); }
    template <typename T>
    void values(std::vector<T>& v) { get_vector(r, v); }
    void text(std::string& s) { get_string(r, s); }
    void flag(bool& b) {
        uint8_t byte = 0;
        get(r, byte);
        if (byte > 1) r.ok = false;
        b = byte == 1;
    }
    void index(size_t& i) {
        uint64_t n = 0;
        get(r, n);
        i = static_cast<size_t>(n);
        if (static_cast<uint64_t>(i) != n) r.ok = false;
    }
    template <typename T>
    void count(std::vector<T>& items) {
        uint64_t n = 0;
        get(r, n);
        if (n > static_cast<uint64_t>(r.end - r.at)) r.ok = false;
        items.clear();
        items.resize(r.ok ? static_cast<size_t>(n) : 0);
    }
    void refuse_unless(bool ok) {
        if (!ok) r.ok = false;
    }
};

}  // namespace vosh::render
