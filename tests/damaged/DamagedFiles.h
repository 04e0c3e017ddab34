#pragma once
// Damaged and hostile recordings made from real ones (cut, overwritten, headers that lie, empty
// and extreme text packets, AVI), each with the ends a player may reach on it. Shared by the
// in-process engine test and the velk-play test.

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace velk::test {

using Bytes = std::string;

enum Outcome : unsigned { Played = 1, OpenFailed = 2, Quit = 4 };
enum class Source { Mp4, FastStartMp4, Avi };
using Damage = std::function<Bytes(const Bytes&)>;

struct Case {
    const char* name = nullptr;
    Source source = Source::Mp4;
    Damage damage = nullptr;  // applied to a copy of the source; none plays the source itself
    unsigned allowed = 0;     // Outcome bits
    bool seekHalfway = false; // a fraction seek to 500 after the first picture
    bool hasPictures = true;  // a played end must have shown a picture
    std::function<std::string()> make = nullptr; // a file made otherwise (no source)
};

const std::vector<Case>& DamagedCases();
// Makes the case's file in the build tree (named after the case) and returns its path.
std::string MadeFile(const Case& c);
std::string OutcomeName(unsigned outcomes);
// Names the case in failure messages instead of a byte dump.
void PrintTo(const Case& c, std::ostream* out);

} // namespace velk::test
