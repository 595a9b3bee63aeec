#include "policies/numeric_key_filter.h"

#include <QKeyEvent>

#include "core/activity_log.h"

namespace kestrix {

bool NumericKeyFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return QObject::eventFilter(watched, event);
    const QString text = static_cast<QKeyEvent*>(event)->text();
    // Keys that type nothing (arrows, shortcuts) are not characters.
    if (text.isEmpty()) return false;
    for (const char32_t c : text.toUcs4()) {
        if (!accepted_(c)) return true;
    }
    writeLog("Only numbers and .");
    return false;
}

}  // namespace kestrix
