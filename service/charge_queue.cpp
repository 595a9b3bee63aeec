#include "service/charge_queue.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kestrix::service {

namespace {

// Names and amounts are written as hexadecimal bytes: any byte of a name is
// kept, and a line is always three words.
std::string hexText(const std::string& text) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : text) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out.empty() ? "-" : out;
}

bool fromHex(const std::string& hex, std::string& out) {
    out.clear();
    if (hex == "-") return true;
    if (hex.size() % 2 != 0) return false;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        int value = 0;
        for (int k = 0; k < 2; ++k) {
            const char c = hex[i + k];
            const int digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                     : -1;
            if (digit < 0) return false;
            value = value * 16 + digit;
        }
        out += static_cast<char>(value);
    }
    return true;
}

std::string lineOf(const Charge& charge) {
    return std::to_string(charge.code) + " " + hexText(charge.user) + " " + hexText(charge.amount) +
           "\n";
}

bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

ChargeQueue::ChargeQueue(std::filesystem::path file) : file_(std::move(file)) {
    std::ifstream in(file_);
    if (!in) {
        if (std::filesystem::exists(file_))
            throw std::runtime_error("cannot read " + file_.string() + ": " + std::strerror(errno));
        return;
    }
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string user, amount;
        Charge charge;
        // A line cut short by a crash while it was written is not a charge:
        // its writer had not been told it was kept.
        if (!(words >> charge.code >> user >> amount)) continue;
        if (!fromHex(user, charge.user) || !fromHex(amount, charge.amount)) continue;
        charges_.push_back(std::move(charge));
    }
}

bool ChargeQueue::add(const Charge& charge) {
    std::lock_guard<std::mutex> lock(mutex_);
    const int fd = ::open(file_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const bool written = writeAll(fd, lineOf(charge)) && ::fsync(fd) == 0;
    ::close(fd);
    if (written) charges_.push_back(charge);
    return written;
}

std::size_t ChargeQueue::size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return charges_.size();
}

std::size_t ChargeQueue::replay(const std::function<bool(const Charge&)>& store) {
    std::lock_guard<std::mutex> turn(replaying_);
    std::size_t taken = 0;
    for (;;) {
        Charge next;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (charges_.empty()) break;
            next = charges_.front();
        }
        if (!store(next)) break;
        std::lock_guard<std::mutex> lock(mutex_);
        charges_.pop_front();
        ++taken;
    }
    if (taken > 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        // Should the rewrite fail, the old file still holds them all: a
        // change may then be written twice, never lost.
        (void)rewrite();
    }
    return taken;
}

// Whole or not at all: a new file, on disk, then renamed over the old.
bool ChargeQueue::rewrite() const {
    std::string text;
    for (const Charge& charge : charges_)
        text += lineOf(charge);
    const std::filesystem::path temporary = file_.string() + ".new";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const bool written = writeAll(fd, text) && ::fsync(fd) == 0;
    ::close(fd);
    if (!written || ::rename(temporary.c_str(), file_.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    const int dir = ::open(file_.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

}  // namespace kestrix::service
