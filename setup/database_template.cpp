#include "setup/database_template.h"

#include <QFile>

#include <filesystem>
#include <system_error>

#include "core/activity_log.h"
#include "core/connection_string.h"
#include "core/private_files.h"

namespace kestrix {

namespace fs = std::filesystem;

std::string templateDatabaseBytes() {
    QFile resource(QStringLiteral(":/kestrix/servu.db"));
    if (!resource.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = resource.readAll();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

std::optional<std::string> missingDatabaseFile(std::string_view connectionString) {
    const ParsedConnection parsed = parseConnectionString(connectionString);
    if (!parsed.target || parsed.target->engine != Engine::SQLite || parsed.target->path.empty())
        return std::nullopt;
    std::error_code ec;
    // A file that cannot even be looked at is left to the opening to report.
    if (fs::exists(parsed.target->path, ec) || ec) return std::nullopt;
    return parsed.target->path;
}

WriteResult createDatabaseFromTemplate(const std::string& file) {
    writeLog("the database file does not exist, create it from the template: " + file);
    const std::string bytes = templateDatabaseBytes();
    if (bytes.empty()) {
        writeLog("the program carries no database template");
        return WriteResult::failed("the program carries no database template");
    }
    const fs::path path(file);
    std::error_code ec;
    if (path.has_parent_path()) fs::create_directories(path.parent_path(), ec);
    WriteResult written = ec ? WriteResult::failed(ec.value())
                             : replacePrivateFile(path, bytes, PrivateKind::Database);
    if (!written) writeLog("could not write the database file " + file + ": " + written.error());
    return written;
}

}  // namespace kestrix
