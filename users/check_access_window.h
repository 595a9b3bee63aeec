#pragma once

#include <QDialog>

#include <functional>
#include <memory>
#include <string>

namespace Ui {
class CheckAccessWindow;
}

namespace kestrix {

namespace users {
struct AccessAnswer;
}

// Check access: asks the plug-in's decision code what one user may do with
// a path, from an address, and shows the answer and what decided it. The
// deciding rule is handed to highlightRule (its place in the rule list,
// 0-based). It answers from the stored rules, as the FTP server would.
class CheckAccessWindow : public QDialog {
    Q_OBJECT
  public:
    explicit CheckAccessWindow(std::function<void(int rule)> highlightRule,
                               QWidget* parent = nullptr);
    ~CheckAccessWindow() override;

    // The user the questions are about.
    void checkFor(const std::string& user);
    const std::string& user() const { return user_; }

  public slots:
    void cmdCheck_Click();

  private:
    // The rules that applied, one a line, the deciding one marked.
    static std::string matchedRulesText(const users::AccessAnswer& answer);

    std::unique_ptr<Ui::CheckAccessWindow> ui_;
    std::function<void(int)> highlightRule_;
    std::string user_;
};

}  // namespace kestrix
