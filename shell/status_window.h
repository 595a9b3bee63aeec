#pragma once

#include <QDialog>

#include <memory>

#include "shell/log_lines.h"

namespace Ui {
class StatusWindow;
}

namespace kestrix {

class ActivityLog;

// frmStatus: the activity log in a read-only box, newest line in view. Runs
// of the same line show as one; a filter keeps the lines containing a text;
// Copy takes the selection, or every line shown.
class StatusWindow : public QDialog {
    Q_OBJECT
  public:
    explicit StatusWindow(ActivityLog& log, QWidget* parent = nullptr);
    ~StatusWindow() override;

  public slots:
    void cmdOK_Click();
    void cmdCopy_Click();
    void txtFilter_Change();
    void reject() override;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void append(const std::string& line);
    // Shows the lines again, the newest in view.
    void showLines();

    std::unique_ptr<Ui::StatusWindow> ui_;
    ActivityLog& log_;
    int listener_ = 0;
    LogLines lines_;
    // Lines arrived while hidden: shown when the window is.
    bool stale_ = false;
};

}  // namespace kestrix
