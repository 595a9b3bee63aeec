#include "setup/embedded_plugin.h"

#include <QFile>

namespace kestrix {

std::string embeddedPluginBytes() {
    QFile resource(QStringLiteral(":/kestrix/Quellin.so"));
    if (!resource.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = resource.readAll();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

}  // namespace kestrix
