#pragma once

#include <QValidator>

#include <string>

class QLineEdit;

namespace kestrix {

// A path box takes no line break: a paste that holds one is refused as a
// whole, with a beep and a note beside the box, instead of becoming a path
// with a line break (or blanks) in it.
void refuseLineBreaks(QLineEdit* box, const std::string& field);

// The note shown for the box's last refusal (empty when none yet).
QString lastPathBoxNote(const QLineEdit* box);

class LineBreakValidator final : public QValidator {
    Q_OBJECT
  public:
    LineBreakValidator(QLineEdit* box, std::string field);
    State validate(QString& input, int& position) const override;

  private:
    QLineEdit* box_;
    std::string field_;
};

}  // namespace kestrix
