#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "plugin/client_event.h"

namespace kestrix::plugin {

// Bounded access to a ClientEvent: a text field is read up to its first NUL
// or its last byte, whichever comes first, and every write stays inside its
// field, NUL included.
class EventRecord {
  public:
    explicit EventRecord(ClientEvent& event) : event_(event) {}

    int32_t code() const { return event_.code; }
    int32_t flag() const { return event_.flag; }
    void setFlag(bool yes) { event_.flag = yes ? 1 : 0; }

    [[nodiscard]] std::string userName() const;
    [[nodiscard]] std::string data() const;
    [[nodiscard]] std::string address() const;

    // Lower-cases the ASCII letters of the user name in place.
    void lowerCaseUserName();

    // Replaces the user name when it fits with its NUL; false (and the
    // name unchanged) when it does not.
    [[nodiscard]] bool setUserName(std::string_view name);

    // Writes a text answer with its NUL. A text too long for the field is
    // cut at the last whole UTF-8 character that fits.
    void setDataText(std::string_view text);
    // Writes a text answer only when it fits whole; false when it does not.
    [[nodiscard]] bool setDataTextWhole(std::string_view text);
    void setDataNumber(long long value);
    // A switch answer: the first byte of the data becomes the byte 1 or 0.
    void setDataSwitch(bool on);

  private:
    ClientEvent& event_;
};

// The longest prefix of text that has at most maxBytes bytes and does not
// end inside a UTF-8 character.
std::string_view cutAtCharacter(std::string_view text, std::size_t maxBytes);

}  // namespace kestrix::plugin
