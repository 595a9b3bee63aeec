#include "shell/qt_message_boxes.h"

#include <QApplication>
#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>

#include "shell/qt_text.h"

namespace kestrix {

namespace {

QMessageBox::Icon iconOf(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Information:
            return QMessageBox::Information;
        case MessageIcon::Exclamation:
            return QMessageBox::Warning;
        case MessageIcon::Question:
            return QMessageBox::Question;
        case MessageIcon::Critical:
            return QMessageBox::Critical;
        case MessageIcon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

struct ButtonSet {
    QMessageBox::StandardButton buttons[4];
    int count;
};

ButtonSet buttonsOf(MessageButtons buttons) {
    switch (buttons) {
        case MessageButtons::OK:
            return {{QMessageBox::Ok}, 1};
        case MessageButtons::OKCancel:
            return {{QMessageBox::Ok, QMessageBox::Cancel}, 2};
        case MessageButtons::YesNo:
            return {{QMessageBox::Yes, QMessageBox::No}, 2};
        case MessageButtons::YesNoCancel:
            return {{QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel}, 3};
        case MessageButtons::ReloadOverwriteCancel:
            // Shown as "Reload" and "Overwrite" below.
            return {{QMessageBox::Reset, QMessageBox::Save, QMessageBox::Cancel}, 3};
        case MessageButtons::ReloadKeepBothOverwriteCancel:
            // Shown as "Reload", "Keep both" and "Overwrite" below.
            return {
                {QMessageBox::Reset, QMessageBox::Apply, QMessageBox::Save, QMessageBox::Cancel},
                4};
    }
    return {{QMessageBox::Ok}, 1};
}

}  // namespace

Answer QtMessageBoxes::show(const Message& message) {
    QMessageBox box(QApplication::activeWindow());
    box.setIcon(iconOf(message.icon));
    box.setWindowTitle(toQt(message.caption));
    box.setTextFormat(Qt::PlainText);
    box.setText(messageToQt(message.text));
    // The box sizes itself to its text; a longer caption would be cut by
    // the window frame, so the box is made wide enough for it too.
    const int captionWidth =
        box.fontMetrics().horizontalAdvance(box.windowTitle()) + 4 * box.fontMetrics().height();
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
        grid->addItem(new QSpacerItem(captionWidth, 0, QSizePolicy::Minimum, QSizePolicy::Minimum),
                      grid->rowCount(), 0, 1, grid->columnCount());
    }
    const ButtonSet set = buttonsOf(message.buttons);
    for (int i = 0; i < set.count; ++i)
        box.addButton(set.buttons[i]);
    if (message.buttons == MessageButtons::ReloadOverwriteCancel) {
        box.button(QMessageBox::Reset)->setText(QObject::tr("Reload"));
        box.button(QMessageBox::Save)->setText(QObject::tr("Overwrite"));
    }
    if (message.buttons == MessageButtons::ReloadKeepBothOverwriteCancel) {
        box.button(QMessageBox::Reset)->setText(QObject::tr("Reload"));
        box.button(QMessageBox::Apply)->setText(QObject::tr("Keep both"));
        box.button(QMessageBox::Save)->setText(QObject::tr("Overwrite"));
    }
    const int index = message.defaultButton >= 1 && message.defaultButton <= set.count
                          ? message.defaultButton - 1
                          : 0;
    box.setDefaultButton(set.buttons[index]);
    // Only a box with a Cancel button (or a lone OK) may be left with Escape.
    if (message.buttons == MessageButtons::YesNo)
        box.setEscapeButton(static_cast<QAbstractButton*>(nullptr));
    box.exec();
    switch (box.standardButton(box.clickedButton())) {
        case QMessageBox::Yes:
            return Answer::Yes;
        case QMessageBox::No:
            return Answer::No;
        case QMessageBox::Cancel:
            return Answer::Cancel;
        case QMessageBox::Ok:
            return Answer::OK;
        case QMessageBox::Reset:
            return Answer::Reload;
        case QMessageBox::Save:
            return Answer::Overwrite;
        case QMessageBox::Apply:
            return Answer::KeepBoth;
        default:
            break;
    }
    // Closed some other way: the answer of the box's last button.
    return answerOfButton(message.buttons, set.count);
}

}  // namespace kestrix
