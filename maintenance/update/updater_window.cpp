#include "maintenance/update/updater_window.h"

#include <QLabel>
#include <QPainter>
#include <QTimer>
#include <QVBoxLayout>

namespace kestrix {

namespace {

// picStatus: a bar filled to the fraction, its percentage written over it.
class ProgressPicture : public QWidget {
  public:
    explicit ProgressPicture(const int& ticks, QWidget* parent) : QWidget(parent), ticks_(ticks) {
        setObjectName(QStringLiteral("picStatus"));
        setMinimumSize(260, 24);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        const double fraction =
            static_cast<double>(ticks_) / (UpdaterWindow::kWaitMs / UpdaterWindow::kTickMs);
        QPainter painter(this);
        const QRect frame = rect().adjusted(0, 0, -1, -1);
        painter.fillRect(frame, palette().base());
        QRect filled = frame;
        filled.setWidth(static_cast<int>(frame.width() * fraction));
        painter.fillRect(filled, palette().highlight());
        painter.setPen(palette().windowText().color());
        painter.drawRect(frame);
        painter.drawText(frame, Qt::AlignCenter,
                         QStringLiteral("%1%").arg(static_cast<int>(fraction * 100)));
    }

  private:
    const int& ticks_;
};

}  // namespace

UpdaterWindow::UpdaterWindow(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("frmUpdate"));
    setWindowTitle(QStringLiteral("Kestrix"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Processing..."), this));
    picStatus_ = new ProgressPicture(ticks_, this);
    layout->addWidget(picStatus_);

    timer2_ = new QTimer(this);
    timer2_->setInterval(kTickMs);
    connect(timer2_, &QTimer::timeout, this, &UpdaterWindow::Timer2_Timer);
    timer2_->start();
    QTimer::singleShot(kWaitMs, this, &UpdaterWindow::waited);
}

void UpdaterWindow::Timer2_Timer() {
    if (++ticks_ >= kWaitMs / kTickMs) timer2_->stop();
    picStatus_->update();
}

}  // namespace kestrix
