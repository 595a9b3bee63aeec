#pragma once

#include <QValidator>

#include <functional>

#include "shell/number_rules.h"

class QLineEdit;

namespace kestrix {

// Makes a line edit a number box: a character or a paste that the box
// could not keep (a letter, a sign, an exponent, a second point, more
// decimals or digits than the range has) is refused as it comes, with a
// beep and a note beside the box naming the field and what it takes. Each
// typed character it keeps writes "Only numbers and ." to the activity log.
// The range is asked each time, for boxes whose unit changes.
void makeNumberBox(QLineEdit* box, std::function<NumberRange()> range);
void makeNumberBox(QLineEdit* box, const NumberRange& range);

// The note shown for the box's last refusal (empty when none yet).
QString lastNumberBoxNote(const QLineEdit* box);

// The validator behind makeNumberBox.
class NumberValidator final : public QValidator {
    Q_OBJECT
  public:
    NumberValidator(QLineEdit* box, std::function<NumberRange()> range);
    State validate(QString& input, int& position) const override;

  private:
    QLineEdit* box_;
    std::function<NumberRange()> range_;
};

}  // namespace kestrix
