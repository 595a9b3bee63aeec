#include "core/field_merge.h"

namespace kestrix {

namespace {

std::optional<std::string> valueOf(const FieldValues& fields, const std::string& name) {
    const auto found = fields.find(name);
    return found == fields.end() ? std::nullopt : found->second;
}

std::string shown(const std::optional<std::string>& value) {
    if (!value) return "(none)";
    if (value->empty()) return "(empty)";
    return *value;
}

}  // namespace

ThreeWayMerge mergeThreeWay(const FieldValues& loaded, const FieldValues& mine,
                            const FieldValues& theirs) {
    ThreeWayMerge merge;
    merge.merged = theirs;
    std::map<std::string, bool> names;
    for (const FieldValues* fields : {&loaded, &mine})
        for (const auto& [name, value] : *fields)
            names[name] = true;
    for (const auto& [name, unused] : names) {
        const auto was = valueOf(loaded, name);
        const auto mineNow = valueOf(mine, name);
        if (mineNow == was) continue;  // not changed here: theirs stays
        const auto theirsNow = valueOf(theirs, name);
        if (theirsNow != was && theirsNow != mineNow) merge.bothChanged.push_back(name);
        if (mineNow)
            merge.merged[name] = mineNow;
        else
            merge.merged.erase(name);
    }
    return merge;
}

void keepTheirs(ThreeWayMerge& merge, const FieldValues& theirs) {
    for (const std::string& name : merge.bothChanged) {
        const auto value = valueOf(theirs, name);
        if (value)
            merge.merged[name] = value;
        else
            merge.merged.erase(name);
    }
}

std::string describeBothChanged(const ThreeWayMerge& merge, const FieldValues& mine,
                                const FieldValues& theirs) {
    std::string text;
    for (const std::string& name : merge.bothChanged) {
        text += name + ": yours " + shown(valueOf(mine, name)) + ", theirs " +
                shown(valueOf(theirs, name)) + "\r\n";
    }
    return text;
}

}  // namespace kestrix
