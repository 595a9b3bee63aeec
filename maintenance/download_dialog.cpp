#include "maintenance/download_dialog.h"

#include <QProgressDialog>

#include "maintenance/http_fetch.h"
#include "shell/app_title.h"

namespace kestrix {

QString DownloadDialog::downloadHeading() {
    return QStringLiteral("Downloading the new version of Kestrix...");
}

QString DownloadDialog::askingHeading() {
    return QStringLiteral("Asking the update server for the newest version...");
}

QString byteAmount(qint64 bytes) {
    if (bytes < 1024) return QStringLiteral("%1 bytes").arg(bytes);
    if (bytes < 1024 * 1024) return QStringLiteral("%1 KB").arg(bytes / 1024.0, 0, 'f', 1);
    return QStringLiteral("%1 MB").arg(bytes / (1024.0 * 1024.0), 0, 'f', 1);
}

DownloadDialog::DownloadDialog(FetchControl& control, QWidget* owner, const QString& heading)
    : dialog_(std::make_unique<QProgressDialog>(heading, QStringLiteral("Cancel"), 0, 0, owner)),
      heading_(heading) {
    dialog_->setObjectName(QStringLiteral("frmDownload"));
    dialog_->setWindowTitle(
        QString::fromUtf8(kAppTitle.data(), static_cast<int>(kAppTitle.size())));
    dialog_->setWindowModality(Qt::ApplicationModal);
    dialog_->setMinimumDuration(0);
    dialog_->setAutoClose(false);
    dialog_->setAutoReset(false);
    dialog_->setMinimumWidth(360);
    // Cancel reaches the fetch at once, also while no byte arrives.
    QObject::connect(dialog_.get(), &QProgressDialog::canceled, dialog_.get(),
                     [&control] { control.cancel(); });
    control.progress = [this](qint64 received, qint64 total) { progress(received, total); };
    control.quiet = [this](int seconds) { quiet(seconds); };
    showText();
    dialog_->show();
}

DownloadDialog::~DownloadDialog() = default;

void DownloadDialog::progress(qint64 received, qint64 total) {
    note_.clear();
    if (total > 0) {
        amount_ = QStringLiteral("%1 of %2").arg(byteAmount(received), byteAmount(total));
        // Percent, so that packages above 2 GiB fit the dialog's int range.
        dialog_->setMaximum(100);
        dialog_->setValue(static_cast<int>(received * 100 / total));
    } else {
        amount_ = QStringLiteral("%1 received").arg(byteAmount(received));
    }
    showText();
}

void DownloadDialog::quiet(int seconds) {
    if (seconds < kQuietNoteSeconds) return;
    note_ = QStringLiteral("The server has sent nothing for %1 seconds.").arg(seconds);
    showText();
}

void DownloadDialog::showText() {
    QString text = heading_;
    text += QLatin1Char('\n') +
            (amount_.isEmpty() ? QStringLiteral("Waiting for the server...") : amount_);
    if (!note_.isEmpty()) text += QLatin1Char('\n') + note_;
    dialog_->setLabelText(text);
}

}  // namespace kestrix
