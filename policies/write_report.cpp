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

}  // namespace kestrix
