#include "policies/write_report.h"

#include <QWidget>

#include "shell/qt_text.h"
#include "shell/shell.h"

namespace kestrix {

void recordDialogWrite(const DialogWrite& write, audit::Result result, const std::string& reason) {
    audit::Change change;
    change.origin = "Tavix " + write.dialog;
    change.ftpUser = write.user;
    change.what = write.change;
    change.result = result;
    change.reason = reason;
    audit::recordWindowChange(change);
}

bool writeWentThrough(policies::WriteOutcome outcome, const std::string& failure,
                      const DialogWrite& write) {
    switch (outcome) {
        case policies::WriteOutcome::Written:
            recordDialogWrite(write, audit::Result::Done);
            break;
        case policies::WriteOutcome::Refused:
            recordDialogWrite(write, audit::Result::Failed, failure);
            reportStatementFailure(failure);
            break;
        case policies::WriteOutcome::Unavailable:
            recordDialogWrite(write, audit::Result::Failed, "the database could not be opened");
            break;
        case policies::WriteOutcome::Changed:
            recordDialogWrite(write, audit::Result::Refused, changedBySomeoneElse(write.user));
            break;
        case policies::WriteOutcome::Declined:
            break;
    }
    return outcome == policies::WriteOutcome::Written;
}

void nameUserInCaption(QWidget* dialog, const char* caption, const std::string& user) {
    QString title = QString::fromUtf8(caption).trimmed();
    if (!user.empty()) title += QStringLiteral(" - ") + toQt(user);
    dialog->setWindowTitle(title);
}

policies::WriteOutcome writeOrAsk(const std::string& user, const std::optional<std::string>& loaded,
                                  const GuardedWrite& write, const std::function<void()>& reload,
                                  const std::function<policies::WriteOutcome()>& keepBoth) {
    const policies::WriteOutcome outcome = write(loaded);
    if (outcome != policies::WriteOutcome::Changed) return outcome;
    switch (Shell::instance().ask(keepBoth ? changedElsewhereMergeQuestion(user)
                                           : changedElsewhereQuestion(user))) {
        case Answer::KeepBoth:
            return keepBoth();
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
