// Where a field sits in a protocol, written as `signals[2].samples[17]`: field names joined by
// points, list positions in brackets. Decoding errors and the checker's problems name fields
// this way, matching the keys of to_dict.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace protocols {

class FieldPath {
public:
    FieldPath() { segments_.reserve(8); }
    void push(std::string_view field) { segments_.push_back({field, 0}); }
    void push(std::size_t position) { segments_.push_back({{}, position}); }
    void pop() noexcept { segments_.pop_back(); }
    void clear() noexcept { segments_.clear(); }

    std::string text() const {
        std::string out;
        for (const Segment& s : segments_) {
            if (s.field.empty()) {
                out.append("[").append(std::to_string(s.position)).append("]");
            } else {
                if (!out.empty()) out += '.';
                out.append(s.field);
            }
        }
        return out;
    }

private:
    struct Segment {
        std::string_view field;  // empty for a position
        std::size_t position;
    };
    std::vector<Segment> segments_;
};

}  // namespace protocols
