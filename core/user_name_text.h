#pragma once

#include <string_view>

namespace kestrix {

// Whether a UTF-8 name holds a control character (Unicode Cc) or a format
// character (Cf: soft hyphen, zero-width space, direction marks, ...).
// Such a name looks like another or like nothing, and a database collation
// that ignores them would make it another spelling of a stored name. A text
// that is not valid UTF-8 counts as holding one.
bool hasInvisibleCharacter(std::string_view name);

}  // namespace kestrix
