#pragma once

#include <QString>

class QLineEdit;

namespace kestrix {

// A note just under a box, looking like a tool tip but not one: a tool tip
// would vanish with the release of the very key it is about. It goes when
// the box's text changes, when its window moves, hides or is no longer the
// active one, or after a few seconds.
void showBoxNote(QLineEdit* box, const QString& note);

}  // namespace kestrix
