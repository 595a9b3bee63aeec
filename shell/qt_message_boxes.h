#pragma once

#include "shell/message_boxes.h"

namespace kestrix {

// Shows each message in a QMessageBox in front of the active window.
class QtMessageBoxes final : public MessageBoxes {
  public:
    Answer show(const Message& message) override;
};

}  // namespace kestrix
