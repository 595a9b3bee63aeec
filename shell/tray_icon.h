#pragma once

#include <QLabel>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>

#include <memory>
#include <optional>
#include <string>

namespace kestrix {

// The notification-area icon. Its pictures are those of three hidden picture
// boxes of the main window; the one showing is the current picture. Where
// the desktop has no notification area the icon cannot be added, and the
// program runs on without one (the current picture is still kept).
class TrayIcon : public QObject {
    Q_OBJECT
  public:
    explicit TrayIcon(QObject* parent = nullptr);
    ~TrayIcon() override;

    // addTrayIcon: shows the icon with the picture and the tip; on success
    // the picture box's window owns the icon for all later changes. The
    // menu pops up on the icon's right button.
    bool add(QLabel* picture, const std::string& tip, QMenu* menu);
    // setTrayIcon: changes only the picture (the tip stays).
    void set(QLabel* picture, const std::string& tip);
    // removeTrayIcon: deletes the icon and forgets its owner.
    void remove();

    QLabel* currentPicture() const { return current_; }
    // True while an icon is showing in the notification area.
    bool shown() const { return owner_ != nullptr; }
    QMenu* menu() const { return menu_; }
    std::string tip() const { return tip_; }

    // Decides whether the desktop has a notification area, instead of asking
    // the platform (tests; no value asks the platform again).
    void overrideAvailability(std::optional<bool> available);
    bool available() const;

    // Forgets everything (tests).
    void reset();

  signals:
    // A mouse event on the icon.
    void activated(QSystemTrayIcon::ActivationReason reason);

  private:
    QPointer<QLabel> current_;
    QPointer<QLabel> owner_;
    QPointer<QMenu> menu_;
    std::string tip_;
    std::unique_ptr<QSystemTrayIcon> icon_;
    std::optional<bool> availability_;
};

}  // namespace kestrix
