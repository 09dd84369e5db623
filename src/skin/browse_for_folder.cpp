#include "skin/browse_for_folder.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QWidget>

namespace {

QString standardFolder(QStandardPaths::StandardLocation location) {
  return QStandardPaths::writableLocation(location);
}

}  // namespace

TBrowseForFolder::TBrowseForFolder(QObject* owner)
    : QObject(owner),
      folderName_(QStringLiteral("C:\\")),
      statusText_(QStringLiteral("Plase select folder")),
      caption_(QStringLiteral("Select Folder")),
      chooser_(std::make_unique<DialogFolderChooser>()) {}

TBrowseForFolder::~TBrowseForFolder() = default;

void TBrowseForFolder::setChooser(std::unique_ptr<FolderChooser> chooser) {
  chooser_ = chooser ? std::move(chooser) : std::make_unique<DialogFolderChooser>();
}

QString TBrowseForFolder::rootFolder() const {
  switch (root_) {
    case bl_CUSTOM:
      return customRoot_;
    case bl_PERSONAL:
      return standardFolder(QStandardPaths::DocumentsLocation);
    case bl_DESKTOPDIRECTORY:
    case bl_COMMON_DESKTOPDIRECTORY:
      return standardFolder(QStandardPaths::DesktopLocation);
    case bl_PROGRAMS:
    case bl_STARTMENU:
    case bl_COMMON_STARTMENU:
    case bl_COMMON_PROGRAMS:
      return standardFolder(QStandardPaths::ApplicationsLocation);
    case bl_FONTS:
      return standardFolder(QStandardPaths::FontsLocation);
    case bl_APPDATA:
      return standardFolder(QStandardPaths::GenericDataLocation);
    case bl_TEMPLATES:
      return standardFolder(QStandardPaths::HomeLocation) + QStringLiteral("/Templates");
    case bl_DRIVES:
      return QDir::rootPath();
    default:
      // The desktop and the places with no folder of their own on this system: no limit.
      return {};
  }
}

bool TBrowseForFolder::Execute() {
  QObject* owner = parent();
  auto* form = qobject_cast<QWidget*>(owner);
  if (owner && (!form || !form->isWindow())) throw InvalidCastError();

  FolderChooser::Request request;
  request.owner = form;
  request.caption = caption_;
  request.statusText = statusText_;
  request.startFolder = folderName_;
  request.rootFolder = rootFolder();
  request.onlyFileSystemFolders = flags_.testFlag(bf_ReturnOnlyFSDIRS);

  const std::optional<QString> chosen = chooser_->choose(request);
  // A choice with no folder behind it is no choice.
  if (!chosen || chosen->isEmpty()) return false;
  folderName_ = QDir::toNativeSeparators(*chosen);
  const QFileInfo info(*chosen);
  displayName_ = info.fileName().isEmpty() ? folderName_ : info.fileName();
  return true;
}
