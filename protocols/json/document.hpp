// A JSON text (RFC 8259, UTF-8) read into a flat tree of its values, each pointing into the
// text, checked whole before any of it is taken as a protocol: anything that is not JSON is
// refused with its line and column, and so are nesting deeper than a protocol's layout, a
// number too large for a float, a lone surrogate escape and a key given twice in one object.
// A list of plain numbers gets no node per item: it is one node over its text, and when it is
// spelt as `pyvora export` writes sample lists, its samples are read right away, in one pass.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "protocols/signals.hpp"

namespace protocols::json {

enum class Type : std::uint8_t { object, array, numbers, string, integer, real, yes, no, null };

struct Node {
    std::size_t start = 0;   // the value's first byte (a string's opening quote)
    std::size_t end = 0;     // one past its last byte
    std::size_t next = 0;    // the node after this one and everything in it
    std::size_t count = 0;   // an object's members, a list's items
    std::size_t samples = 0;  // numbers read on the fast road: 1 + their place in Document::samples
    Type type = Type::null;
    bool escaped = false;  // a string holding a backslash
};

// Where and why a text is no JSON, or holds a key twice.
struct SyntaxRefusal {
    std::string reason;
    std::size_t offset;
};
struct DuplicateKey {
    std::string key;       // decoded
    std::string path;      // of the object, as from_dict writes paths
    std::size_t offset;    // of the second key
};

class Document {
public:
    // Reads text; throws SyntaxRefusal. A key given twice is kept in duplicate(), checked once
    // the whole text is known to be JSON.
    Document(std::string_view text, std::size_t max_depth);

    std::string_view text() const noexcept { return text_; }
    const Node& root() const noexcept { return nodes_.front(); }
    const Node& node(std::size_t i) const noexcept { return nodes_[i]; }
    std::size_t index(const Node& n) const noexcept { return static_cast<std::size_t>(&n - nodes_.data()); }
    const std::optional<DuplicateKey>& duplicate() const noexcept { return duplicate_; }
    // The samples of a numbers node read on the fast road, to be taken once.
    signals::Samples& samples(const Node& n) noexcept { return samples_[n.samples - 1]; }

    // A string node's text, its escapes decoded (the text was checked).
    std::string decoded(const Node& n) const;
    // Compares a string node with a plain text without decoding it when it has no escape.
    bool equals(const Node& n, std::string_view plain) const;
    // Each item of a list of numbers, in order, as nodes of their own.
    template <class F>
    void each_number(const Node& n, F&& f) const {
        std::size_t p = n.start + 1;
        for (std::size_t i = 0; i < n.count; ++i) {
            Node item;
            p = number_at(p, item);
            f(item, i);
        }
    }

    // The float a number with a fraction or an exponent stands for, correctly rounded.
    static double real_value(std::string_view token) noexcept;

    // "(line L, column C)" of an offset, columns counted in characters.
    static std::string position(std::string_view text, std::size_t offset);

private:
    // A container being read: the key or position of the item being read, for a duplicate's
    // path, and an object's keys so far.
    struct Frame {
        explicit Frame(bool is_object) : object(is_object) {}
        bool object;
        std::size_t position = 0;
        std::string key;
        std::unordered_set<std::string> seen;
    };
    void value(std::size_t depth);
    void object(std::size_t depth);
    void array(std::size_t depth);
    template <class Item>
    void items(std::size_t self, bool is_object, char close, Item&& item);
    bool numbers(std::size_t at);
    void string(Node& n);
    void number(Node& n);
    void literal(std::string_view word, Type type);
    void skip_blanks() noexcept;
    [[noreturn]] void refuse(std::string reason, std::size_t offset) const;
    // A refusal of what JSON's grammar allows, kept until the whole text is known to be JSON.
    void defer(std::string reason, std::size_t offset);
    std::size_t number_at(std::size_t p, Node& item) const;
    std::string path_text() const;

    std::string_view text_;
    std::size_t pos_ = 0;
    std::size_t max_depth_;
    std::vector<Node> nodes_;
    std::deque<signals::Samples> samples_;
    std::vector<Frame> frames_;  // the containers being read, outermost first
    std::optional<DuplicateKey> duplicate_;
    std::optional<SyntaxRefusal> deferred_;
};

}  // namespace protocols::json
