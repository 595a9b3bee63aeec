#pragma once

#include <QtGlobal>

#include <memory>

class QProgressDialog;
class QWidget;

namespace kestrix {

// The package download's progress, with Cancel; named "frmDownload".
class DownloadDialog {
  public:
    explicit DownloadDialog(QWidget* owner = nullptr);
    ~DownloadDialog();

    // Shows the bytes so far; false once the administrator has cancelled.
    bool progress(qint64 received, qint64 total);
    QProgressDialog& dialog() { return *dialog_; }

  private:
    std::unique_ptr<QProgressDialog> dialog_;
};

}  // namespace kestrix
