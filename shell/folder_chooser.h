#pragma once

#include <optional>
#include <string>

class QWidget;

namespace kestrix {

// The folder browser, restricted to file-system directories, opening at
// startAt when that is a directory. No value when the administrator
// cancels; the empty text for a folder without a path.
class FolderChooser {
  public:
    virtual ~FolderChooser() = default;
    virtual std::optional<std::string> chooseFolder(QWidget* owner, const std::string& title,
                                                    const std::string& startAt) = 0;
};

class QtFolderChooser final : public FolderChooser {
  public:
    std::optional<std::string> chooseFolder(QWidget* owner, const std::string& title,
                                            const std::string& startAt) override;
};

}  // namespace kestrix
