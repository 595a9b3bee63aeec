#pragma once

#include <optional>
#include <string>

class QWidget;

namespace kestrix {

// What the file-open dialog offers.
struct FileRequest {
    std::string title;
    std::string filter;          // "Text Files (*.txt)"
    std::string proposedName;    // the name in the name box at the start
    std::string startDirectory;  // where it opens

    bool operator==(const FileRequest&) const = default;
};

// The file-open and file-save dialogs. No value when the administrator
// cancels. The save dialog asks before an existing file is named.
class FileChooser {
  public:
    virtual ~FileChooser() = default;
    virtual std::optional<std::string> chooseOpenFile(QWidget* owner,
                                                      const FileRequest& request) = 0;
    virtual std::optional<std::string> chooseSaveFile(QWidget* owner,
                                                      const FileRequest& request) = 0;
};

class QtFileChooser final : public FileChooser {
  public:
    std::optional<std::string> chooseOpenFile(QWidget* owner, const FileRequest& request) override;
    std::optional<std::string> chooseSaveFile(QWidget* owner, const FileRequest& request) override;
};

}  // namespace kestrix
