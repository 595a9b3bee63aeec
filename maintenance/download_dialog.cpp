#include "maintenance/download_dialog.h"

#include <QProgressDialog>

#include "shell/app_title.h"

namespace kestrix {

DownloadDialog::DownloadDialog(QWidget* owner)
    : dialog_(std::make_unique<QProgressDialog>(
          QStringLiteral("Downloading the new version of Kestrix..."), QStringLiteral("Cancel"), 0,
          0, owner)) {
    dialog_->setObjectName(QStringLiteral("frmDownload"));
    dialog_->setWindowTitle(
        QString::fromUtf8(kAppTitle.data(), static_cast<int>(kAppTitle.size())));
    dialog_->setWindowModality(Qt::ApplicationModal);
    dialog_->setMinimumDuration(0);
    dialog_->setAutoClose(false);
    dialog_->setAutoReset(false);
    dialog_->setMinimumWidth(360);
    dialog_->show();
}

DownloadDialog::~DownloadDialog() = default;

bool DownloadDialog::progress(qint64 received, qint64 total) {
    if (total > 0) {
        // Percent, so that packages above 2 GiB fit the dialog's int range.
        dialog_->setMaximum(100);
        dialog_->setValue(static_cast<int>(received * 100 / total));
    }
    return !dialog_->wasCanceled();
}

}  // namespace kestrix
