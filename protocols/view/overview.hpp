// What a reviewer reads of a protocol, decided once for every view (the picture, the notebook
// summary, diff): the header's facts, each signal's one-line text, and for each of the six rows
// (A1, A2, A modulation, B1, B2, B modulation) its channel's state, its source and whether that
// exists, the signals its source reaches through mixes of any depth, and the problems and
// findings that concern it. Views only draw this; every value in it is written by the text
// form's renderer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "protocols/settings.hpp"

namespace protocols::view {

// A problem of the protocol or a finding of a lab's rules: the path it names and its words.
struct Mark {
    std::string path;
    std::string text;
    bool warning = false;  // a warning-level finding; problems and error-level findings are not
};

// One line the header gives: what it is about ("intensity") and what it says.
struct Fact {
    std::string_view head;
    std::string text;
};

struct SignalText {
    std::string_view kind;  // "Sine", as to_dict() names it
    std::string text;       // "sine #1: amplitude 1.0, frequency 10.0, phase 0.0, depth 1.0"
    std::string note;       // an arbitrary signal whose length is not the session's says so here
};

// One signal a row's source reaches.
struct Reached {
    std::uint64_t position;
    bool exists;
    std::string text;  // the signal's text, or "signal #9 does not exist"
};

struct Row {
    std::string_view label;  // "A1", "A modulation"
    std::string path;        // "channel_a_settings.amplitude1_source"
    std::size_t channel;     // 0 for A, 1 for B
    bool enabled;
    bool external;
    std::uint64_t position;  // of the signal or the external input
    bool exists;
    std::string text;             // what drives the row, in one line
    std::vector<Reached> drive;   // the source's signal first, then every signal its mixes reach, once each
    std::vector<std::size_t> marks;  // positions in Overview::marks
};

struct Overview {
    std::array<Fact, 4> facts;  // intensity, session, channel A's coil, channel B's coil
    bool intensity_above = false;
    std::vector<std::size_t> intensity_marks;
    std::array<bool, 2> enabled{};
    std::vector<SignalText> signals;  // the table as saving writes it
    bool added_by_save = false;       // the table was empty: its one signal is the one saving adds
    std::array<Row, 6> rows;
    std::vector<Mark> marks;           // find_problems(), then the findings given
    std::size_t problem_count = 0;
};

// The overview of a protocol, with the findings of a lab's rules to place beside its problems.
Overview overview(const settings::Settings& settings, std::span<const Mark> findings = {});

// Whether a path names the field `prefix` or one inside it.
bool names(std::string_view path, std::string_view prefix) noexcept;

}  // namespace protocols::view
