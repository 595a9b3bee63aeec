#include "core/text_routines.h"

#include <algorithm>
#include <chrono>

namespace kestrix {

std::size_t countChar(std::string_view text, char ch) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), ch));
}

double clockSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace kestrix
