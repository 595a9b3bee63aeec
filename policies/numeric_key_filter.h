#pragma once

#include <QObject>

namespace kestrix {

// The key filter of the per-user dialogs' numeric boxes: typed characters
// other than control keys, "." "/" and the digits are dropped. Installed on
// each box it guards.
class NumericKeyFilter : public QObject {
    Q_OBJECT
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace kestrix
