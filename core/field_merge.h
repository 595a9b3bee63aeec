#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kestrix {

// One record's fields by name, as text; a field that is not there (a rule
// for a directory that has none) has no value.
using FieldValues = std::map<std::string, std::optional<std::string>>;

// Two administrators' changes to the same record, put together: what this
// window loaded, what it would write, and what the other one stored since.
struct ThreeWayMerge {
    // What is stored now, with every field this window changed put in.
    FieldValues merged;
    // The fields both changed, to different values; merged holds this
    // window's value for them until keepTheirs is called.
    std::vector<std::string> bothChanged;
};

ThreeWayMerge mergeThreeWay(const FieldValues& loaded, const FieldValues& mine,
                            const FieldValues& theirs);

// The other administrator's values for the fields both changed.
void keepTheirs(ThreeWayMerge& merge, const FieldValues& theirs);

// The fields both changed, one a line: "home: yours /srv/a, theirs /srv/b".
std::string describeBothChanged(const ThreeWayMerge& merge, const FieldValues& mine,
                                const FieldValues& theirs);

}  // namespace kestrix
