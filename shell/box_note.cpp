#include "shell/box_note.h"

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QVariant>

namespace kestrix {

namespace {

// Hides the note with the window of its box, and when another window
// comes to the front.
class HideWithWindow final : public QObject {
  public:
    HideWithWindow(QLabel* note, QObject* window) : QObject(note), note_(note) {
        window->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        if (type == QEvent::Hide || type == QEvent::Move || type == QEvent::WindowDeactivate)
            note_->hide();
        return QObject::eventFilter(watched, event);
    }

  private:
    QLabel* note_;
};

}  // namespace

void showBoxNote(QLineEdit* box, const QString& note) {
    auto* label = qobject_cast<QLabel*>(box->property("boxNoteLabel").value<QObject*>());
    if (label == nullptr) {
        // A window of its own, so that a small dialog does not cut it off.
        label = new QLabel(box, Qt::ToolTip);
        label->setObjectName(QStringLiteral("boxNote"));
        label->setWordWrap(true);
        label->setFrameShape(QFrame::Box);
        label->setPalette(QApplication::palette("QTipLabel"));
        label->setBackgroundRole(QPalette::ToolTipBase);
        label->setForegroundRole(QPalette::ToolTipText);
        label->setAutoFillBackground(true);
        label->setMargin(3);
        label->setMaximumWidth(420);
        auto* timer = new QTimer(label);
        timer->setObjectName(QStringLiteral("boxNoteTimer"));
        timer->setSingleShot(true);
        timer->setInterval(6000);
        QObject::connect(timer, &QTimer::timeout, label, &QLabel::hide);
        QObject::connect(box, &QLineEdit::textChanged, label, &QLabel::hide);
        new HideWithWindow(label, box->window());
        box->setProperty("boxNoteLabel", QVariant::fromValue<QObject*>(label));
    }
    label->setText(note);
    label->adjustSize();
    label->move(box->mapToGlobal(QPoint(0, box->height() + 2)));
    label->show();
    label->raise();
    label->findChild<QTimer*>(QStringLiteral("boxNoteTimer"))->start();
}

}  // namespace kestrix
