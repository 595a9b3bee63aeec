#pragma once

class QLineEdit;

namespace kestrix {

// A box that only shows a value: no frame, the window's own background and
// no focus, so that it does not look like a place to type.
void showAsReadOnly(QLineEdit* box);

}  // namespace kestrix
