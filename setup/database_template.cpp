#include "setup/database_template.h"

#include <QFile>

#include <filesystem>
#include <fstream>
#include <system_error>

#include "core/activity_log.h"
#include "core/connection_string.h"

namespace kestrix {

namespace fs = std::filesystem;

std::string templateDatabaseBytes() {
    QFile resource(QStringLiteral(":/kestrix/servu.db"));
    if (!resource.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = resource.readAll();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

TemplateCopy createDatabaseFromTemplate(std::string_view connectionString) {
    const ParsedConnection parsed = parseConnectionString(connectionString);
    if (!parsed.target || parsed.target->engine != Engine::SQLite || parsed.target->path.empty())
        return TemplateCopy::NotNeeded;
    const fs::path path(parsed.target->path);
    std::error_code ec;
    if (fs::exists(path, ec) || ec) return TemplateCopy::NotNeeded;

    writeLog("the database file does not exist, create it from the template: " + path.string());
    const std::string bytes = templateDatabaseBytes();
    if (bytes.empty()) {
        writeLog("the program carries no database template");
        return TemplateCopy::Failed;
    }
    if (path.has_parent_path()) fs::create_directories(path.parent_path(), ec);
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (out) {
            fs::permissions(path,
                            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                fs::perms::others_read,
                            ec);
            return TemplateCopy::Created;
        }
    }
    fs::remove(path, ec);
    writeLog("could not write the database file " + path.string());
    return TemplateCopy::Failed;
}

}  // namespace kestrix
