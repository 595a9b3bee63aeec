#pragma once

#include <QWidget>

class QTimer;

namespace kestrix {

// The updater's window: "Processing..." and the percentage of the ten
// seconds it waits before it replaces the program file.
class UpdaterWindow : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kTickMs = 1000;
    static constexpr int kWaitMs = 10000;

    explicit UpdaterWindow(QWidget* parent = nullptr);
    int ticks() const { return ticks_; }

  signals:
    // Timer1: the ten seconds have passed.
    void waited();

  private:
    void Timer2_Timer();

    QWidget* picStatus_ = nullptr;
    QTimer* timer2_ = nullptr;
    int ticks_ = 0;
};

}  // namespace kestrix
