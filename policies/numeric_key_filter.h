#pragma once

#include <QObject>

#include "policies/logic/number_checks.h"

namespace kestrix {

// The key filter of the per-user dialogs' numeric boxes: typed characters
// other than control keys, "." "/" and the digits are dropped. Installed on
// each box it guards.
class NumericKeyFilter : public QObject {
    Q_OBJECT
  public:
    using KeyTest = bool (*)(char32_t);
    // accepted decides which typed characters pass.
    explicit NumericKeyFilter(QObject* parent, KeyTest accepted = &policies::numericKeyAccepted)
        : QObject(parent), accepted_(accepted) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    KeyTest accepted_;
};

}  // namespace kestrix
