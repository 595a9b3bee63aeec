#include "setup/server_ini.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <vector>

#include "core/activity_log.h"

namespace kestrix {

namespace fs = std::filesystem;

namespace {

// ASCII case only: the file is 8-bit text in the machine's code page.
std::string lowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

std::string upperAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

std::string_view trimmedBlanks(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    return text;
}

bool isSectionLabel(std::string_view line) {
    return upperAscii(trimmedBlanks(line)) == "[EXTERNAL]";
}

// The lines between CR LF pairs; a file ending with CR LF gives a last,
// empty line.
std::vector<std::string_view> crlfLines(std::string_view content) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = content.find("\r\n", start);
        if (end == std::string_view::npos) {
            lines.push_back(content.substr(start));
            return lines;
        }
        lines.push_back(content.substr(start, end - start));
        start = end + 2;
    }
}

// The number of a "ClientCheckDLLn=" line, the key in any case.
std::optional<int> clientCheckNumber(std::string_view line) {
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    const std::string key = lowerAscii(trimmedBlanks(line.substr(0, equals)));
    constexpr std::string_view kKey = "clientcheckdll";
    if (!key.starts_with(kKey) || key.size() == kKey.size() || key.size() > kKey.size() + 6)
        return std::nullopt;
    int number = 0;
    for (char c : std::string_view(key).substr(kKey.size())) {
        if (c < '0' || c > '9') return std::nullopt;
        number = number * 10 + (c - '0');
    }
    return number;
}

}  // namespace

ServerIniFiles findServerIniFiles(const std::string& programDirectory) {
    ServerIniFiles found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(programDirectory, ec)) {
        const std::string name = entry.path().filename().string();
        const std::string lower = lowerAscii(name);
        if (lower == "servudaemon.ini") found.daemonIni = entry.path().string();
        if (lower == "serv-u.ini") found.servuIni = entry.path().string();
    }
    return found;
}

std::optional<std::string> withPluginEntered(std::string_view content) {
    const std::vector<std::string_view> lines = crlfLines(content);
    const std::string lowerName = lowerAscii(kPluginFileName);
    bool hasSection = false;
    bool inExternal = false;
    std::set<int> usedNumbers;
    bool otherCase = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        // Named as the file is written, anywhere: the plug-in is entered already.
        if (line.find(kPluginFileName) != std::string_view::npos) return std::nullopt;
        // Named in another case: a server on a case-sensitive file system
        // would load nothing.
        if (lowerAscii(line).find(lowerName) != std::string::npos) otherCase = true;
        const std::string_view bare = trimmedBlanks(line);
        if (isSectionLabel(line)) {
            hasSection = inExternal = true;
        } else if (bare.starts_with('[')) {
            inExternal = false;
        } else if (inExternal) {
            if (const auto number = clientCheckNumber(bare)) usedNumbers.insert(*number);
        }
    }
    if (otherCase) {
        writeLog("the plug-in is named in another case: write its name as the file has it");
        std::string patched(content);
        const std::string lower = lowerAscii(patched);
        for (std::size_t at = lower.find(lowerName); at != std::string::npos;
             at = lower.find(lowerName, at + lowerName.size()))
            patched.replace(at, lowerName.size(), kPluginFileName);
        return patched;
    }
    // The first number no other library holds.
    int number = 1;
    while (usedNumbers.contains(number))
        ++number;
    std::string patched;
    const std::string pluginLine =
        "ClientCheckDLL" + std::to_string(number) + "=" + std::string(kPluginFileName);
    if (!hasSection) {
        writeLog("if it does not have the external section label we must add it");
        patched = "[EXTERNAL]\r\n" + pluginLine + "\r\n\r\n" + std::string(content);
    } else {
        writeLog("if the line is already there then do not write it");
        for (std::string_view line : lines) {
            patched.append(line);
            patched += "\r\n";
            if (isSectionLabel(line)) patched += pluginLine + "\r\n";
        }
    }
    return patched + "\r\n";
}

WriteResult enterPlugin(const std::string& iniPath) {
    std::ifstream in(iniPath, std::ios::binary);
    if (!in) return WriteResult::failed(errno != 0 ? errno : ENOENT);
    const std::string content{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) return WriteResult::failed(EIO);
    const auto patched = withPluginEntered(content);
    if (!patched) return {};
    return rewriteFile(iniPath, *patched);
}

WriteResult installPluginFile(const std::string& programDirectory, std::string_view pluginBytes) {
    const fs::path target = fs::path(programDirectory) / kPluginFileName;
    std::error_code ec;
    if (fs::exists(fs::symlink_status(target, ec))) return {};
    if (pluginBytes.empty()) return WriteResult::failed("the program carries no plug-in");
    return replaceFile(target, pluginBytes, 0755);
}

}  // namespace kestrix
