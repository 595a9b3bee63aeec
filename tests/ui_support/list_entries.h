#pragma once

#include <string>
#include <vector>

class QAbstractItemView;

namespace kestrix::test {

// The texts a list shows, top to bottom, whatever kind of list it is.
std::vector<std::string> listEntries(const QAbstractItemView* list);

}  // namespace kestrix::test
