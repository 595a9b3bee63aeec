#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class AboutBox;
}

namespace kestrix {

// The about box, modeless. Releasing a mouse button over its icon while
// Shift and Ctrl are held reveals the log window's menu item.
class AboutBox : public QDialog {
    Q_OBJECT
  public:
    explicit AboutBox(QWidget* parent = nullptr);
    ~AboutBox() override;

  signals:
    void showLogGesture();

  public slots:
    void cmdOK_Click();
    void reject() override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    std::unique_ptr<Ui::AboutBox> ui_;
};

}  // namespace kestrix
