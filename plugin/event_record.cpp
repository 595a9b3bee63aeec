#include "plugin/event_record.h"

#include <algorithm>
#include <cstring>

namespace kestrix::plugin {

namespace {

template <std::size_t N>
std::string fieldText(const char (&field)[N]) {
    return std::string(field, ::strnlen(field, N));
}

}  // namespace

std::string_view cutAtCharacter(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return text;
    std::size_t end = maxBytes;
    // Back off continuation bytes (10xxxxxx) so the cut falls before the
    // lead byte of the character that does not fit.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end);
}

std::string EventRecord::userName() const {
    return fieldText(event_.userName);
}

std::string EventRecord::data() const {
    return fieldText(event_.data);
}

std::string EventRecord::address() const {
    return fieldText(event_.address);
}

void EventRecord::lowerCaseUserName() {
    const std::size_t length = ::strnlen(event_.userName, sizeof event_.userName);
    for (std::size_t i = 0; i < length; ++i) {
        char& c = event_.userName[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
}

void EventRecord::setDataText(std::string_view text) {
    const std::string_view fitting = cutAtCharacter(text, sizeof event_.data - 1);
    std::copy(fitting.begin(), fitting.end(), event_.data);
    event_.data[fitting.size()] = '\0';
}

bool EventRecord::setUserName(std::string_view name) {
    if (name.size() >= sizeof event_.userName) return false;
    std::copy(name.begin(), name.end(), event_.userName);
    std::memset(event_.userName + name.size(), 0, sizeof event_.userName - name.size());
    return true;
}

bool EventRecord::setDataTextWhole(std::string_view text) {
    if (text.size() >= sizeof event_.data) return false;
    setDataText(text);
    return true;
}

void EventRecord::setDataNumber(long long value) {
    setDataText(std::to_string(value));
}

void EventRecord::setDataSwitch(bool on) {
    event_.data[0] = on ? 1 : 0;
}

}  // namespace kestrix::plugin
