#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class StatusWindow;
}

namespace kestrix {

class ActivityLog;

// frmStatus: the activity log in a read-only box, newest line in view.
class StatusWindow : public QDialog {
    Q_OBJECT
  public:
    explicit StatusWindow(ActivityLog& log, QWidget* parent = nullptr);
    ~StatusWindow() override;

  public slots:
    void cmdOK_Click();
    void reject() override;

  private:
    void append(const std::string& line);

    std::unique_ptr<Ui::StatusWindow> ui_;
    ActivityLog& log_;
    int listener_ = 0;
};

}  // namespace kestrix
