#pragma once

#include <QWidget>

#include <cstdint>
#include <functional>
#include <optional>

class ChunkBuffer;
class DriveTable;
class QLabel;
class QLineEdit;
class QStackedWidget;
class THSSkinBtn;
class THexDump;

/// The sector viewer: shows one 512-byte sector of the main window's 1 MiB scan buffer at a
/// time. The user names a header sector, the window has that chunk read from the current
/// drive, and then steps through its 2048 sectors. Created once, hidden; closing only hides.
class TForm1 : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kSectorSize = 512;
  static constexpr int kSectorsPerChunk = 2048;

  /// Where error messages go; an empty handler restores the message box.
  using MessageHandler = std::function<void(const QString&)>;
  static void setMessageHandler(MessageHandler handler);

  /// `table` and `buffer` belong to the main window and must outlive the viewer.
  TForm1(const DriveTable& table, ChunkBuffer& buffer, QWidget* parent = nullptr);

  /// The drive that a chunk read uses; 0 until set. The caption names it.
  [[nodiscard]] int drive() const { return drive_; }
  void setDrive(int drive);

  /// Index of the shown sector within the buffer, 0..2047; kept while the window is closed.
  [[nodiscard]] int SectorIndex() const { return sectorIndex_; }

  /// What the main window does after reading the chunk at `lba` into the buffer: header
  /// sector `lba`, the window shown (with the blank sector), "sector : lba" in Label2.
  void showAt(std::uint64_t lba);
  /// Reads the chunk at `lba` of the current drive, shows the window and puts the first
  /// sector of the chunk in the dump. False when not every byte of the chunk arrived.
  bool openAt(std::uint64_t lba);

  [[nodiscard]] THexDump* hexDump() const { return dump_; }

  QLabel* Label4;
  QLabel* Label8;
  QLabel* Label5;
  QLabel* Label6;
  QLabel* Label10;
  QLineEdit* edStartLBA;
  QLabel* Label2;
  QLineEdit* Edit1;
  THSSkinBtn* BitBtn2;
  THSSkinBtn* BitBtn1;
  QLabel* Label1;
  QStackedWidget* Notebook1;

 signals:
  /// A chunk was read into the shared buffer from `lba` of `drive`.
  void chunkRead(int drive, quint64 lba, bool complete);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void stepNext();
  void stepPrevious();
  void sectorIndexEntered();
  void headerSectorEntered();
  /// Edit1 from SectorIndex, the dump on that sector of the buffer.
  void showCurrentSector();
  /// After a step: "sector : " and header sector + index, unless the header is not a number.
  void labelAbsoluteSector();
  /// Empty, or when `sector` lies past the disk's last sector, a note that says so.
  [[nodiscard]] QString pastEndNote(std::uint64_t sector) const;
  /// Beside the main window the first time it opens, within the screen.
  void placeBesideOwner();
  void readChunk(std::uint64_t lba);
  /// The header sector typed into edStartLBA; reports and gives nothing when it is not one.
  std::optional<std::uint64_t> headerSector();
  void reportError(const QString& message);

  const DriveTable& table_;
  ChunkBuffer& buffer_;
  int drive_ = 0;
  int sectorIndex_ = 0;
  bool placed_ = false;
  THexDump* dump_;
};
