#include "tests/maintenance/files.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <fstream>
#include <iterator>

namespace kestrix::test {

std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::filesystem::path& file, const std::string& bytes,
               std::filesystem::perms mode) {
    std::ofstream(file, std::ios::binary) << bytes;
    std::filesystem::permissions(file, mode);
}

bool appears(const std::filesystem::path& file, int ms) {
    QDeadlineTimer deadline(ms);
    while (!std::filesystem::exists(file)) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return true;
}

}  // namespace kestrix::test
