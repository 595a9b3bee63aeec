#pragma once

#include <QString>
#include <QtGlobal>

#include <memory>

class QProgressDialog;
class QWidget;

namespace kestrix {

class FetchControl;

// A fetch's progress, with Cancel: the package download's ("frmDownload"),
// or the version query's, under a heading of its own.
class DownloadDialog {
  public:
    // Seconds without a byte after which the dialog says so.
    static constexpr int kQuietNoteSeconds = 3;

    // Follows the control's fetch; Cancel ends it at once. The dialog must
    // go before the control does.
    explicit DownloadDialog(FetchControl& control, QWidget* owner = nullptr,
                            const QString& heading = downloadHeading());
    static QString downloadHeading();
    static QString askingHeading();
    ~DownloadDialog();

    // The bytes so far, as a bar when their number is announced.
    void progress(qint64 received, qint64 total);
    // Nothing has arrived for that many seconds.
    void quiet(int seconds);
    QProgressDialog& dialog() { return *dialog_; }

  private:
    void showText();

    std::unique_ptr<QProgressDialog> dialog_;
    QString heading_;
    QString amount_;
    QString note_;
};

// "3.4 MB" and the like, for the dialog's line of bytes.
QString byteAmount(qint64 bytes);

}  // namespace kestrix
