#include "skin/folder_chooser.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QUrl>

namespace {

/// The start folder itself or, when it is gone, the closest folder above it; else home.
QString nearestFolder(const QString& start) {
  if (start.isEmpty()) return QDir::homePath();
  QString path = QDir::cleanPath(QDir::fromNativeSeparators(start));
  if (QDir::isRelativePath(path)) return QDir::homePath();
  while (!QFileInfo(path).isDir()) {
    const QString up = QFileInfo(path).absolutePath();
    if (up == path) return QDir::homePath();
    path = up;
  }
  return path;
}

}  // namespace

std::optional<QString> DialogFolderChooser::choose(const Request& request) {
  QFileDialog dialog(request.owner, request.caption);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  // Qt's own dialog, so that the status text has a place and the look matches the program.
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  if (!request.statusText.isEmpty()) dialog.setLabelText(QFileDialog::FileName, request.statusText);
  if (!request.rootFolder.isEmpty())
    dialog.setSidebarUrls({QUrl::fromLocalFile(request.rootFolder)});
  const QString start = request.startFolder.isEmpty() ? request.rootFolder : request.startFolder;
  dialog.setDirectory(nearestFolder(start));
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) return std::nullopt;
  return QDir::cleanPath(chosen.constFirst());
}
