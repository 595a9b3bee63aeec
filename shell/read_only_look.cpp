#include "shell/read_only_look.h"

#include <QLineEdit>
#include <QPalette>

namespace kestrix {

void showAsReadOnly(QLineEdit* box) {
    box->setReadOnly(true);
    box->setFocusPolicy(Qt::NoFocus);
    box->setFrame(false);
    QPalette palette = box->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    box->setPalette(palette);
}

}  // namespace kestrix
