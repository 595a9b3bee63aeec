#include "app/splash_window.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

#include "shell/artwork.h"
#include "shell/shell.h"
#include "ui_splash_window.h"

namespace kestrix {

SplashWindow::SplashWindow(SplashLinks links, QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint),
      ui_(std::make_unique<Ui::SplashWindow>()),
      links_(std::move(links)) {
    ui_->setupUi(this);
    const QPixmap picture = productPicture();
    ui_->picProduct->setPixmap(picture);
    setFixedSize(picture.size());

    tmrShow_ = new QTimer(this);
    tmrShow_->setObjectName(QStringLiteral("tmrShow"));
    tmrShow_->setInterval(1500);
    connect(tmrShow_, &QTimer::timeout, this, &SplashWindow::tmrShow_Timer);
    tmrCheck_ = new QTimer(this);
    tmrCheck_->setObjectName(QStringLiteral("tmrCheck"));
    tmrCheck_->setInterval(1501);
    connect(tmrCheck_, &QTimer::timeout, this, &SplashWindow::tmrCheck_Timer);
}

SplashWindow::~SplashWindow() = default;

void SplashWindow::formLoad() {
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    tmrCheck_->start();
    tmrShow_->start();
    createOpenDialogList();
}

void SplashWindow::tmrShow_Timer() {
    tmrShow_->stop();
    hideWindow(this);
}

void SplashWindow::mousePressEvent(QMouseEvent* event) {
    QWidget::mousePressEvent(event);
    tmrShow_Timer();
}

void SplashWindow::tmrCheck_Timer() {
    tmrCheck_->stop();
    if (links_.anotherCopyRunning && links_.anotherCopyRunning()) {
        exitProgram(1);
        return;
    }
    if (links_.showMainWindow) links_.showMainWindow();
}

}  // namespace kestrix
