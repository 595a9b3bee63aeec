#include <QApplication>
#include <QInputDialog>
#include <QLineEdit>

#include "shell/input_boxes.h"
#include "shell/qt_text.h"

namespace kestrix {

std::optional<std::string> QtInputBoxes::show(const InputRequest& request) {
    QInputDialog box(QApplication::activeWindow());
    box.setInputMode(QInputDialog::TextInput);
    box.setWindowTitle(toQt(request.caption));
    box.setLabelText(messageToQt(request.prompt));
    box.setTextValue(toQt(request.defaultText));
    if (request.secret) box.setTextEchoMode(QLineEdit::Password);
    if (box.exec() != QDialog::Accepted) return std::nullopt;
    return fromQt(box.textValue());
}

}  // namespace kestrix
