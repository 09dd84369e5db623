#pragma once

#include "recovery/found_file.h"
#include "recovery/preview.h"

#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>

class DriveTable;
class FreeSpaceSearch;
class QLabel;
class QPlainTextEdit;
class QStackedWidget;
class SectorReader;
struct UndeletedFile;

/// The found-file preview: a small window beside the main window that shows the file the
/// found list has selected, a picture as a thumbnail (by Qt's image readers), text as its
/// first lines, anything else as its first sector in hex. The bytes are read and decoded
/// on a thread of their own, so a slow or stuck disk never holds up the window; a newer
/// selection replaces what an older one would have shown.
class TpreviewFrm final : public QWidget {
  Q_OBJECT

 public:
  explicit TpreviewFrm(QWidget* owner);

  /// Shows the window with `file` of `drive` in it, once its bytes have arrived. With
  /// `freeSpace`, the file was found in the free space searched and is read through it.
  void showFile(const DriveTable& table, int drive, const TfileExt& file,
                const std::shared_ptr<const FreeSpaceSearch>& freeSpace = {});
  /// The same for a deleted file its file system names: its path, and its bytes read
  /// through its runs on the disk (or those its file system kept).
  void showNamed(const DriveTable& table, int drive, const UndeletedFile& file);

  QLabel* lblName = nullptr;
  QLabel* lblPicture = nullptr;
  QPlainTextEdit* mmText = nullptr;

 signals:
  /// The preview of the latest file is on show.
  void previewShown();

 private:
  struct Result;
  /// Shows the window named `name`, opens `drive` and, when it opens, reads on a thread of
  /// its own the bytes `over` makes of it from `offset`, `size` long (0: not known).
  void readAndShow(
      const QString& name, const DriveTable& table, int drive,
      const std::function<std::unique_ptr<SectorReader>(std::unique_ptr<SectorReader>)>& over,
      std::uint64_t offset, std::uint64_t size, PreviewKind kind, int type);
  void present(std::uint64_t generation, const Result& result);
  void placeBesideOwner();

  QStackedWidget* pages_ = nullptr;
  std::uint64_t generation_ = 0;
  bool placed_ = false;
};
