#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace kestrix {

// An IPv4 address as one number, its first part in the highest byte.
using Ipv4 = std::uint32_t;

// The client's address as the FTP server hands it over: dotted IPv4 (a
// leading zero is still decimal: 010.0.0.7 is 10.0.0.7) or an IPv4 address
// mapped into IPv6 (::ffff:10.0.0.7). No value for anything else, a real
// IPv6 address included: the address rules hold IPv4 only.
std::optional<Ipv4> parseClientAddress(std::string_view text);

// One entry of a blocked address list: an address (10.0.0.7), a pattern
// whose parts are each a number, * or a range a-b (10.0.*.1-20), or a CIDR
// block (10.0.0.0/24). Numbers are decimal, 0 to 255.
class AddressPattern {
  public:
    enum class Kind { Address, Pattern, Block };

    // No value when the text is none of the three forms.
    static std::optional<AddressPattern> parse(std::string_view entry);

    [[nodiscard]] Kind kind() const { return kind_; }
    [[nodiscard]] bool matches(Ipv4 address) const {
        for (int part = 0; part < 4; ++part) {
            const unsigned value = (address >> (24 - 8 * part)) & 0xffu;
            if (value < low_[part] || value > high_[part]) return false;
        }
        return true;
    }

    // Whether two entries match the same addresses, whatever their form
    // (010.000.000.007 and 10.0.0.7; 10.0.0.0/8 and 10.*.*.*).
    [[nodiscard]] bool sameAddressesAs(const AddressPattern& other) const {
        return low_ == other.low_ && high_ == other.high_;
    }
    // Whether the entry matches every address (0.0.0.0/0, *.*.*.*).
    [[nodiscard]] bool matchesEveryAddress() const {
        for (int part = 0; part < 4; ++part) {
            if (low_[part] != 0 || high_[part] != 255) return false;
        }
        return true;
    }

  private:
    // Each form is a range per part: a block's prefix fixes whole parts,
    // narrows at most one and leaves the rest open.
    Kind kind_ = Kind::Address;
    std::array<std::uint8_t, 4> low_{};
    std::array<std::uint8_t, 4> high_{};
};

inline bool isAddressEntry(std::string_view entry) {
    return AddressPattern::parse(entry).has_value();
}

// A stored address list made ready to match, apart from reading it, so that
// a list read once can answer many clients. Rows that are not valid
// entries are left out: they never match.
class AddressList {
  public:
    // False when the row is not a valid entry and was left out.
    bool add(std::string_view row);

    // True when the client's address matches an entry. An address that
    // cannot be read as IPv4 matches nothing.
    [[nodiscard]] bool matches(std::string_view clientAddress) const;
    [[nodiscard]] bool matches(Ipv4 address) const;

    [[nodiscard]] std::size_t size() const { return entries_.size(); }
    [[nodiscard]] std::size_t leftOut() const { return leftOut_; }

  private:
    std::vector<AddressPattern> entries_;
    std::size_t leftOut_ = 0;
};

}  // namespace kestrix
