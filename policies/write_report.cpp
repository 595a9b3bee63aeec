#include "policies/write_report.h"

#include <QWidget>

#include "shell/qt_text.h"
#include "shell/shell.h"

namespace kestrix {

bool writeWentThrough(policies::WriteOutcome outcome, const std::string& failure) {
    if (outcome == policies::WriteOutcome::Refused) reportStatementFailure(failure);
    return outcome == policies::WriteOutcome::Written;
}

void nameUserInCaption(QWidget* dialog, const char* caption, const std::string& user) {
    QString title = QString::fromUtf8(caption).trimmed();
    if (!user.empty()) title += QStringLiteral(" - ") + toQt(user);
    dialog->setWindowTitle(title);
}

policies::WriteOutcome writeOrAsk(const std::string& user, const std::optional<std::string>& loaded,
                                  const GuardedWrite& write, const std::function<void()>& reload) {
    const policies::WriteOutcome outcome = write(loaded);
    if (outcome != policies::WriteOutcome::Changed) return outcome;
    switch (Shell::instance().ask(changedElsewhereQuestion(user))) {
        case Answer::Overwrite:
            return write(std::nullopt);
        case Answer::Reload:
            reload();
            break;
        default:
            break;
    }
    return outcome;
}

}  // namespace kestrix
