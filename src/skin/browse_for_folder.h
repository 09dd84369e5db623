#pragma once

#include "skin/folder_chooser.h"

#include <QObject>
#include <QString>

#include <memory>
#include <typeinfo>

/// Raised when the browser's owner is not a window.
class InvalidCastError : public std::bad_cast {
 public:
  [[nodiscard]] const char* what() const noexcept override { return "Invalid class typecast"; }
};

/// Asks the user for a folder through a FolderChooser, the Qt file dialog unless replaced.
/// The owner (the QObject parent) must be a window, or nothing.
class TBrowseForFolder : public QObject {
  Q_OBJECT
  Q_PROPERTY(QString FolderName READ FolderName WRITE setFolderName)
  Q_PROPERTY(QString DisplayName READ DisplayName)
  Q_PROPERTY(QString StatusText READ StatusText WRITE setStatusText)
  Q_PROPERTY(QString Caption READ Caption WRITE setCaption)
  Q_PROPERTY(TBrowseFlags Flags READ Flags WRITE setFlags)
  Q_PROPERTY(TBrowseLocation Root READ Root WRITE setRoot)

 public:
  enum TBrowseFlag {
    bf_BrowseForComputer = 0x1000,
    bf_BrowseForPrinter = 0x2000,
    bf_DontGoBelowDomain = 0x0002,
    bf_statustext = 0x0004,
    bf_ReturnFSanceStors = 0x0008,
    bf_ReturnOnlyFSDIRS = 0x0001,
    bf_EditBox = 0x0010,
  };
  Q_DECLARE_FLAGS(TBrowseFlags, TBrowseFlag)
  Q_FLAG(TBrowseFlags)

  /// Roots of the folder tree, in their given order.
  enum TBrowseLocation {
    bl_STANDART,
    bl_CUSTOM,
    bl_DESKTOP,
    bl_PROGRAMS,
    bl_CONTROLS,
    bl_PRINTERS,
    bl_PERSONAL,
    bl_FAVORITES,
    bl_STARTUP,
    bl_RECENT,
    bl_SENDTO,
    bl_BITBUCKET,
    bl_STARTMENU,
    bl_DESKTOPDIRECTORY,
    bl_DRIVES,
    bl_NETWORK,
    bl_NETHOOD,
    bl_FONTS,
    bl_TEMPLATES,
    bl_COMMON_STARTMENU,
    bl_COMMON_PROGRAMS,
    bl_COMMON_STARTUP,
    bl_COMMON_DESKTOPDIRECTORY,
    bl_APPDATA,
    bl_PRINTHOOD,
  };
  Q_ENUM(TBrowseLocation)

  explicit TBrowseForFolder(QObject* owner = nullptr);
  ~TBrowseForFolder() override;

  /// Shows the chooser, starting in FolderName. True with FolderName and DisplayName set when
  /// the user chose a folder; false, FolderName unchanged, when cancelled. Throws
  /// InvalidCastError when the owner is not a window.
  bool Execute();

  [[nodiscard]] QString FolderName() const { return folderName_; }
  void setFolderName(const QString& name) { folderName_ = name; }
  [[nodiscard]] QString DisplayName() const { return displayName_; }
  [[nodiscard]] QString StatusText() const { return statusText_; }
  void setStatusText(const QString& text) { statusText_ = text; }
  [[nodiscard]] QString Caption() const { return caption_; }
  void setCaption(const QString& caption) { caption_ = caption; }
  [[nodiscard]] TBrowseFlags Flags() const { return flags_; }
  void setFlags(TBrowseFlags flags) { flags_ = flags; }
  [[nodiscard]] TBrowseLocation Root() const { return root_; }
  void setRoot(TBrowseLocation root) { root_ = root; }
  /// The top of the tree for bl_CUSTOM.
  [[nodiscard]] QString CustomRoot() const { return customRoot_; }
  void setCustomRoot(const QString& folder) { customRoot_ = folder; }

  /// The folder a root stands for here; empty means the whole file system.
  [[nodiscard]] QString rootFolder() const;

  /// Replaces the chooser (tests); null restores the dialog.
  void setChooser(std::unique_ptr<FolderChooser> chooser);

 private:
  QString folderName_;
  QString displayName_;
  QString statusText_;
  QString caption_;
  TBrowseFlags flags_;
  TBrowseLocation root_ = bl_STANDART;
  QString customRoot_;
  std::unique_ptr<FolderChooser> chooser_;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(TBrowseForFolder::TBrowseFlags)
