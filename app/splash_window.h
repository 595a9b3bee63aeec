#pragma once

#include <QWidget>

#include <functional>
#include <memory>

class QTimer;

namespace Ui {
class SplashWindow;
}

namespace kestrix {

struct SplashLinks {
    // True when another copy of the program is already running.
    std::function<bool()> anotherCopyRunning;
    // Shows (and so loads) the main window.
    std::function<void()> showMainWindow;
};

// frmSplash: the product picture while the program starts.
class SplashWindow : public QWidget {
    Q_OBJECT
  public:
    explicit SplashWindow(SplashLinks links, QWidget* parent = nullptr);
    ~SplashWindow() override;

    // Form_Load: starts both timers and creates the empty open-dialog list.
    void formLoad();

    QTimer* showTimer() const { return tmrShow_; }
    QTimer* checkTimer() const { return tmrCheck_; }

  public slots:
    void tmrShow_Timer();
    void tmrCheck_Timer();

  protected:
    void mousePressEvent(QMouseEvent* event) override;

  private:
    std::unique_ptr<Ui::SplashWindow> ui_;
    SplashLinks links_;
    QTimer* tmrShow_ = nullptr;
    QTimer* tmrCheck_ = nullptr;
};

}  // namespace kestrix
