#pragma once

#include <QDialog>

#include <functional>
#include <memory>
#include <string>

namespace Ui {
class AddEditDirWindow;
}

namespace kestrix {

// What the rule dialog changes in the main window.
struct AddEditDirLinks {
    // The path differs from the old one: Save turns bold.
    std::function<void()> markUnsaved;
    // An accepted path for a new rule.
    std::function<void(const std::string& path)> add;
    // An accepted new path for the rule being edited (the selected one).
    std::function<void(const std::string& path)> rename;
};

// frmAddEditDir: the path of a new rule, or the new path of a rule. Made once
// and only hidden, so its purpose ("add" or "edit", the window's Tag) and the
// old path (txtPath's Tag) last from one opening to the next.
class AddEditDirWindow : public QDialog {
    Q_OBJECT
  public:
    explicit AddEditDirWindow(AddEditDirLinks links, QWidget* parent = nullptr);
    ~AddEditDirWindow() override;

    // Prepare an opening: purpose, caption and the path box. Edit also
    // remembers the path as the old one.
    void prepareAdd(const std::string& path);
    void prepareEdit(const std::string& path);

    std::string tag() const;
    std::string oldPath() const;

  public slots:
    void cmdOK_Click();
    void cmdCancel_Click();
    void cmdBrowse_Click();
    // Escape and the close box cancel.
    void reject() override;

  private:
    std::unique_ptr<Ui::AddEditDirWindow> ui_;
    AddEditDirLinks links_;
};

}  // namespace kestrix
