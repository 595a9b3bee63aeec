#include "shell/tray_icon.h"

#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QPixmap>

#include "shell/qt_text.h"

namespace kestrix {

namespace {

QIcon iconOf(const QLabel* picture) {
    return QIcon(picture->pixmap());
}

}  // namespace

TrayIcon::TrayIcon(QObject* parent) : QObject(parent) {}
TrayIcon::~TrayIcon() = default;

bool TrayIcon::available() const {
    return availability_.value_or(QSystemTrayIcon::isSystemTrayAvailable());
}

void TrayIcon::overrideAvailability(std::optional<bool> available) {
    availability_ = available;
}

bool TrayIcon::add(QLabel* picture, const std::string& tip, QMenu* menu) {
    current_ = picture;
    tip_ = tip;
    menu_ = menu;
    if (!available() || picture == nullptr) return false;
    // A desktop that only pretends to have a notification area (tests) gets
    // the owner without a platform icon.
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        icon_ = std::make_unique<QSystemTrayIcon>(iconOf(picture));
        icon_->setToolTip(toQt(tip));
        if (menu != nullptr) icon_->setContextMenu(menu);
        connect(icon_.get(), &QSystemTrayIcon::activated, this, &TrayIcon::activated);
        icon_->show();
    }
    owner_ = picture;
    return true;
}

void TrayIcon::set(QLabel* picture, const std::string& /*tip*/) {
    current_ = picture;
    if (owner_ != nullptr && icon_ && picture != nullptr) icon_->setIcon(iconOf(picture));
}

void TrayIcon::remove() {
    if (icon_) {
        icon_->hide();
        icon_.reset();
    }
    owner_ = nullptr;
}

void TrayIcon::reset() {
    remove();
    current_ = nullptr;
    menu_ = nullptr;
    tip_.clear();
    availability_.reset();
}

}  // namespace kestrix
