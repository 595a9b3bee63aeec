#pragma once

#include <QDialog>

#include <functional>
#include <memory>
#include <string>

namespace Ui {
class NewNameWindow;
}

namespace kestrix {

// frmNewName: the name and password of a new user. Made once and only hidden;
// it stays open after every refusal.
class NewNameWindow : public QDialog {
    Q_OBJECT
  public:
    // Called with the name and password once both passed every check; the
    // main window takes the new user from there.
    using Accepted = std::function<void(const std::string& name, const std::string& password)>;

    explicit NewNameWindow(Accepted accepted, QWidget* parent = nullptr);
    ~NewNameWindow() override;

    void clearBoxes();

  public slots:
    void cmdOK_Click();
    void cmdCancel_Click();
    // Escape and the close box cancel.
    void reject() override;

  private:
    std::unique_ptr<Ui::NewNameWindow> ui_;
    Accepted accepted_;
};

}  // namespace kestrix
