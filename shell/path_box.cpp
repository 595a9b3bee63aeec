#include "shell/path_box.h"

#include <QApplication>
#include <QLineEdit>

#include "shell/box_note.h"
#include "shell/qt_text.h"

namespace kestrix {

namespace {
const char* kNoteProperty = "kestrixPathNote";
}  // namespace

LineBreakValidator::LineBreakValidator(QLineEdit* box, std::string field)
    : QValidator(box), box_(box), field_(std::move(field)) {}

QValidator::State LineBreakValidator::validate(QString& input, int&) const {
    const bool lineBreak = input.contains(QLatin1Char('\n')) || input.contains(QLatin1Char('\r')) ||
                           input.contains(QChar::LineSeparator) ||
                           input.contains(QChar::ParagraphSeparator);
    if (!lineBreak) return Acceptable;
    const QString note = toQt("The " + field_ +
                              " is one line: text with a line break was not taken. Copy the "
                              "path alone and paste it again.");
    box_->setProperty(kNoteProperty, note);
    QApplication::beep();
    showBoxNote(box_, note);
    return Invalid;
}

void refuseLineBreaks(QLineEdit* box, const std::string& field) {
    box->setValidator(new LineBreakValidator(box, field));
}

QString lastPathBoxNote(const QLineEdit* box) {
    return box->property(kNoteProperty).toString();
}

}  // namespace kestrix
