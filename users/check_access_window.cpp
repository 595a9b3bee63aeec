#include "users/check_access_window.h"

#include "core/settings.h"
#include "shell/qt_text.h"
#include "ui_check_access_window.h"
#include "users/access/access_explainer.h"
#include "users/editing/rule_rights_text.h"

namespace kestrix {

CheckAccessWindow::CheckAccessWindow(std::function<void(int rule)> highlightRule, QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::CheckAccessWindow>()),
      highlightRule_(std::move(highlightRule)) {
    ui_->setupUi(this);
    for (std::string_view name : users::checkActionNames())
        ui_->cboAction->addItem(toQt(name));
    // Only a rename has a new name.
    const auto renameChosen = [this] {
        ui_->txtNewPath->setEnabled(ui_->cboAction->currentText() ==
                                    toQt(users::checkActionName(users::CheckAction::Rename)));
    };
    connect(ui_->cboAction, &QComboBox::currentTextChanged, this, renameChosen);
    renameChosen();
    connect(ui_->cmdCheck, &QPushButton::clicked, this, &CheckAccessWindow::cmdCheck_Click);
    connect(ui_->cmdClose, &QPushButton::clicked, this, &QDialog::hide);
}

CheckAccessWindow::~CheckAccessWindow() = default;

void CheckAccessWindow::checkFor(const std::string& user) {
    user_ = user;
    ui_->lblUser->setText(toQt("User: " + user));
    ui_->lblAnswer->clear();
    ui_->lblReason->clear();
    ui_->lblMatched->clear();
}

void CheckAccessWindow::cmdCheck_Click() {
    const auto action = users::parseCheckAction(fromQt(ui_->cboAction->currentText()));
    if (!action) return;
    const std::string path = fromQt(ui_->txtPath->text().trimmed());
    const std::string newPath = *action == users::CheckAction::Rename
                                    ? fromQt(ui_->txtNewPath->text().trimmed())
                                    : std::string();
    ui_->lblMatched->clear();
    // A question that cannot be asked is no refusal: nothing was asked.
    if (const auto mistake = users::questionMistake(*action, path, newPath)) {
        ui_->lblAnswer->setText(QStringLiteral("Not asked"));
        ui_->lblAnswer->setStyleSheet(QString());
        ui_->lblReason->setText(toQt(*mistake));
        const bool pathMissing = path.empty() || path.front() != '/';
        (pathMissing ? ui_->txtPath : ui_->txtNewPath)->setFocus(Qt::OtherFocusReason);
        return;
    }
    users::AccessExplainer explainer(readConnectionString());
    const users::AccessAnswer answer =
        explainer.explain(user_, *action, path, fromQt(ui_->txtAddress->text().trimmed()), newPath);
    ui_->lblAnswer->setText(answer.allowed ? QStringLiteral("Allowed") : QStringLiteral("Refused"));
    ui_->lblAnswer->setStyleSheet(answer.allowed ? QStringLiteral("color: darkgreen")
                                                 : QStringLiteral("color: red"));
    ui_->lblReason->setText(toQt(answer.explanation));
    ui_->lblMatched->setText(toQt(matchedRulesText(answer)));
    if (answer.rule >= 0 && highlightRule_) highlightRule_(answer.rule);
}

std::string CheckAccessWindow::matchedRulesText(const users::AccessAnswer& answer) {
    if (answer.matched.empty()) return {};
    std::string text = "Directory rules that apply to the path, in list order:";
    for (const auto& [place, rule] : answer.matched) {
        const users::RuleRightsText rights = users::ruleRightsText(rule);
        text += "\n  " + std::to_string(place + 1) + ". " + rule.directory + "  " +
                (rights.letters.empty() ? std::string("-") : rights.letters) +
                (rights.inherited ? " inherit" : "");
        if (place == answer.rule) text += "  \u2190 decides";
    }
    return text;
}

}  // namespace kestrix
