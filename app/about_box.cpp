#include "app/about_box.h"

#include <QMouseEvent>

#include "app/version.h"
#include "shell/artwork.h"
#include "shell/shell.h"
#include "ui_about_box.h"

namespace kestrix {

AboutBox::AboutBox(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::AboutBox>()) {
    ui_->setupUi(this);
    ui_->picIcon->setPixmap(emblem(kIconBlue, 64));
    QFont title = ui_->lblTitle->font();
    title.setPointSize(title.pointSize() + 6);
    title.setBold(true);
    ui_->lblTitle->setFont(title);
    ui_->lblVersion->setText(QStringLiteral("Version %1.%2.%3")
                                 .arg(kVersionMajor)
                                 .arg(kVersionMinor)
                                 .arg(kVersionRevision));
    ui_->picIcon->installEventFilter(this);
    connect(ui_->cmdOK, &QPushButton::clicked, this, &AboutBox::cmdOK_Click);
}

AboutBox::~AboutBox() = default;

void AboutBox::cmdOK_Click() {
    hideWindow(this);
}

void AboutBox::reject() {
    cmdOK_Click();
}

bool AboutBox::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui_->picIcon && event->type() == QEvent::MouseButtonRelease) {
        const auto held = static_cast<QMouseEvent*>(event)->modifiers();
        if ((held & Qt::ShiftModifier) && (held & Qt::ControlModifier)) emit showLogGesture();
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace kestrix
