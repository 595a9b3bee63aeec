// kestrix-docs: writes the manual page and the shell completions of
// kestrix from its command table, at build time.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "cli/command_table.h"

namespace {

bool writeFile(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) std::cerr << "kestrix-docs: cannot write " << path << '\n';
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "Usage: kestrix-docs PAGE-TEMPLATE OUTPUT-DIRECTORY VERSION\n";
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::string pageTemplate{std::istreambuf_iterator<char>(in),
                                   std::istreambuf_iterator<char>()};
    if (!in && !in.eof()) {
        std::cerr << "kestrix-docs: cannot read " << argv[1] << '\n';
        return 1;
    }
    const std::filesystem::path out(argv[2]);
    using namespace kestrix::cli;
    const bool written = writeFile(out / "kestrix.1", manPage(pageTemplate, argv[3])) &&
                         writeFile(out / "completions" / "kestrix", bashCompletion()) &&
                         writeFile(out / "completions" / "_kestrix", zshCompletion()) &&
                         writeFile(out / "completions" / "kestrix.fish", fishCompletion());
    return written ? 0 : 1;
}
