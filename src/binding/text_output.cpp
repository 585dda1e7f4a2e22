#include "text_output.hpp"

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>

#include "binding_failure.hpp"
#include "messages.hpp"
#include "python_handles.hpp"

namespace morvanex::binding {
namespace {

struct PyMemFree {
    void operator()(char* text) const noexcept { PyMem_Free(text); }
};

// The texts of recently formatted doubles, by a hash of their bits. Tables
// of scores repeat values a lot (every substring seen once among those of
// its length has the same relative frequency), and formatting a double is
// the costliest part of writing one. Used with the interpreter lock held.
struct ReprCache {
    static constexpr std::size_t slots = 4096;
    struct Slot {
        std::uint64_t bits = 0;
        std::uint8_t length = 0;  // 0: empty
        std::array<char, 31> text{};
    };
    std::array<Slot, slots> slot;

    static std::size_t slot_of(std::uint64_t bits) {
        return static_cast<std::size_t>((bits * 0x9E3779B97F4A7C15u) >> 52) % slots;
    }
};
ReprCache repr_cache;

}  // namespace

void append_float_repr(std::string& out, double value) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    ReprCache::Slot& slot = repr_cache.slot[ReprCache::slot_of(bits)];
    if (slot.length != 0 && slot.bits == bits) {
        out.append(slot.text.data(), slot.length);
        return;
    }
    // What float.__repr__ itself calls: 'r' is the shortest round-trip form.
    const std::unique_ptr<char, PyMemFree> text(PyOS_double_to_string(value, 'r', 0, Py_DTSF_ADD_DOT_0, nullptr));
    if (!text) fail_with_error(messages::float_format_failed, fetch_pending_error());
    const std::size_t length = std::strlen(text.get());
    out.append(text.get(), length);
    if (length <= slot.text.size()) {
        std::memcpy(slot.text.data(), text.get(), length);
        slot.bits = bits;
        slot.length = static_cast<std::uint8_t>(length);
    }
}

void append_tsv_field(std::string& out, std::string_view text) {
    auto is_escaped = [](char byte) { return byte == '\\' || byte == '\t' || byte == '\n' || byte == '\r'; };
    // Most fields need no escape: one scan, one append.
    std::size_t clean = 0;
    while (clean < text.size() && !is_escaped(text[clean])) ++clean;
    out.append(text.substr(0, clean));
    for (const char byte : text.substr(clean)) {
        switch (byte) {
            case '\\': out.append("\\\\"); break;
            case '\t': out.append("\\t"); break;
            case '\n': out.append("\\n"); break;
            case '\r': out.append("\\r"); break;
            default: out.push_back(byte);
        }
    }
}

}  // namespace morvanex::binding
