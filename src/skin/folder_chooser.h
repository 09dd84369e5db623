#pragma once

#include <QString>

#include <optional>

class QWidget;

/// Asks the user for a folder. The program uses DialogFolderChooser; tests put their own in.
class FolderChooser {
 public:
  struct Request {
    QWidget* owner = nullptr;
    QString caption;
    QString statusText;
    /// Folder selected when the chooser opens; may be empty.
    QString startFolder;
    /// Top of the folder tree; empty for no limit.
    QString rootFolder;
    bool onlyFileSystemFolders = false;
  };

  virtual ~FolderChooser() = default;
  /// The chosen folder, or nothing when the user cancelled.
  [[nodiscard]] virtual std::optional<QString> choose(const Request& request) = 0;
};

/// The Qt file dialog in directory mode.
class DialogFolderChooser : public FolderChooser {
 public:
  [[nodiscard]] std::optional<QString> choose(const Request& request) override;
};
