#include "shell/number_box.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <algorithm>

#include "core/activity_log.h"
#include "shell/box_note.h"
#include "shell/qt_text.h"

namespace kestrix {

namespace {

const char* kNoteProperty = "kestrixNumberNote";

// Logs the typed characters the box keeps, as the key filter always did.
class TypedKeyLog final : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            const QString text = static_cast<QKeyEvent*>(event)->text();
            if (!text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) {
                    return c.isDigit() || c == QLatin1Char('.');
                }))
                writeLog("Only numbers and .");
        }
        return QObject::eventFilter(watched, event);
    }
};

}  // namespace

NumberValidator::NumberValidator(QLineEdit* box, std::function<NumberRange()> range)
    : QValidator(box), box_(box), range_(std::move(range)) {}

QValidator::State NumberValidator::validate(QString& input, int&) const {
    const auto why = untypableNumber(fromQt(input), range_());
    if (!why) return Acceptable;
    const QString note = toQt(*why);
    box_->setProperty(kNoteProperty, note);
    QApplication::beep();
    showBoxNote(box_, note);
    return Invalid;
}

void makeNumberBox(QLineEdit* box, std::function<NumberRange()> range) {
    box->setValidator(new NumberValidator(box, std::move(range)));
    box->installEventFilter(new TypedKeyLog(box));
}

void makeNumberBox(QLineEdit* box, const NumberRange& range) {
    makeNumberBox(box, [range] { return range; });
}

QString lastNumberBoxNote(const QLineEdit* box) {
    return box->property(kNoteProperty).toString();
}

}  // namespace kestrix
