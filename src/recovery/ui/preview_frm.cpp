#include "recovery/ui/preview_frm.h"

#include "disk/drive_table.h"
#include "recovery/free_space_search.h"
#include "recovery/preview.h"
#include "recovery/ui/product_palette.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFontDatabase>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScreen>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>
#include <thread>

namespace {
constexpr QSize kThumbnail(260, 260);
}  // namespace

/// What the reading thread hands back.
struct TpreviewFrm::Result {
  QString name;
  QImage picture;  ///< null unless a picture was decoded
  QString text;    ///< the text, the hex, or why there is nothing to show
};

TpreviewFrm::TpreviewFrm(QWidget* owner) : QWidget(owner, Qt::Tool) {
  setWindowTitle(QStringLiteral("Preview"));
  setPalette(ProductPalette::page());
  setAutoFillBackground(true);
  resize(300, 340);
  lblName = new QLabel(this);
  lblName->setAlignment(Qt::AlignCenter);
  pages_ = new QStackedWidget(this);
  lblPicture = new QLabel(pages_);
  lblPicture->setAlignment(Qt::AlignCenter);
  mmText = new QPlainTextEdit(pages_);
  mmText->setReadOnly(true);
  mmText->setLineWrapMode(QPlainTextEdit::NoWrap);
  mmText->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  pages_->addWidget(lblPicture);
  pages_->addWidget(mmText);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(lblName);
  layout->addWidget(pages_, 1);
}

void TpreviewFrm::showFile(const DriveTable& table, int drive, const TfileExt& file,
                           const std::shared_ptr<const FreeSpaceSearch>& freeSpace) {
  // A file of the free space is named by its disk sector and read through the stream of
  // free runs it was found in, so that its pieces come together again.
  const bool inFreeSpace = freeSpace && freeSpace->Stream();
  const QString name =
      QString::fromStdString(inFreeSpace ? freeSpace->Place().FileName(file) : file.FileName());
  readAndShow(
      name, table, drive,
      [&](std::unique_ptr<SectorReader> disk) {
        return inFreeSpace ? freeSpace->StreamOver(std::move(disk)) : std::move(disk);
      },
      file.LBA * 512, file.Size, PreviewKindOf(file), file.Type);
}

void TpreviewFrm::showNamed(const DriveTable& table, int drive, const UndeletedFile& file) {
  std::string path = file.entry.path;
  for (char& ch : path)
    if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f) ch = '_';
  if (file.entry.size == 0) {  // a size of 0 would read as a size not known
    ++generation_;
    lblName->setText(QString::fromStdString(path));
    mmText->setPlainText(QStringLiteral("The file is empty."));
    pages_->setCurrentWidget(mmText);
    placeBesideOwner();
    QWidget::show();
    emit previewShown();
    return;
  }
  readAndShow(
      QString::fromStdString(path), table, drive,
      [&](std::unique_ptr<SectorReader> disk) {
        return FreeSpaceSearch::FileOver(std::move(disk), file);
      },
      0, file.entry.size, PreviewKindOfType(file.type), file.type);
}

void TpreviewFrm::readAndShow(
    const QString& name, const DriveTable& table, int drive,
    const std::function<std::unique_ptr<SectorReader>(std::unique_ptr<SectorReader>)>& over,
    std::uint64_t offset, std::uint64_t size, PreviewKind kind, int type) {
  const std::uint64_t generation = ++generation_;
  lblName->setText(name);
  // The kind of file, in a few words (a HEIF picture no image reader here takes is named).
  const QString kindName =
      type >= 0 && type < kFileTypeCount
          ? QString::fromUtf8(FileTypeDescription(type).data(),
                              static_cast<qsizetype>(FileTypeDescription(type).size()))
          : QString();
  lblName->setToolTip(kindName);
  mmText->setPlainText(QStringLiteral("Reading..."));
  pages_->setCurrentWidget(mmText);
  placeBesideOwner();
  QWidget::show();
  std::string err;
  std::unique_ptr<SectorReader> disk = table.Open(drive, &err);
  if (!disk) {
    mmText->setPlainText(
        QStringLiteral("Cannot read the disk: %1.").arg(QString::fromStdString(err)));
    emit previewShown();
    return;
  }
  std::shared_ptr<SectorReader> reader = over(std::move(disk));
  // The thread owns what it reads from; the window may be gone when it is done.
  QPointer<TpreviewFrm> self(this);
  std::thread([self, generation, reader, offset, size, kind, name, kindName] {
    Result result;
    result.name = name;
    std::string error;
    const std::vector<std::uint8_t> bytes = ReadPreviewBytes(*reader, offset, size, kind, &error);
    if (kind == PreviewKind::kPicture && !bytes.empty()) {
      QByteArray data(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<qsizetype>(bytes.size()));
      QBuffer buffer(&data);
      buffer.open(QIODevice::ReadOnly);
      QImageReader reader(&buffer);
      reader.setAutoTransform(true);
      if (reader.canRead()) {
        const QSize size = reader.size();
        if (size.isValid())
          reader.setScaledSize(size.scaled(kThumbnail, Qt::KeepAspectRatio).boundedTo(size));
        result.picture = reader.read();
      }
      if (result.picture.isNull())
        result.text =
            QStringLiteral("%1: no picture could be made of it (%2). Its first sector:\n\n%3")
                .arg(kindName.isEmpty() ? QStringLiteral("A picture") : kindName,
                     reader.canRead() ? reader.errorString()
                                      : QStringLiteral("no image reader takes it"),
                     QString::fromStdString(PreviewHex(
                         {bytes.begin(),
                          bytes.begin() + std::min<std::ptrdiff_t>(
                                              512, static_cast<std::ptrdiff_t>(bytes.size()))})));
    } else if (kind == PreviewKind::kText) {
      result.text = QString::fromUtf8(PreviewText(bytes, 200));
    } else {
      result.text = QString::fromStdString(PreviewHex(bytes));
    }
    if (!error.empty())
      result.text +=
          QStringLiteral("\n(Not all of it could be read: %1.)").arg(QString::fromStdString(error));
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [self, generation, result] {
          if (self) self->present(generation, result);
        },
        Qt::QueuedConnection);
  }).detach();
}

void TpreviewFrm::present(std::uint64_t generation, const Result& result) {
  if (generation != generation_) return;  // a newer file was chosen meanwhile
  if (!result.picture.isNull()) {
    lblPicture->setPixmap(QPixmap::fromImage(result.picture));
    pages_->setCurrentWidget(lblPicture);
  } else {
    mmText->setPlainText(result.text);
    pages_->setCurrentWidget(mmText);
  }
  emit previewShown();
}

void TpreviewFrm::placeBesideOwner() {
  if (placed_ || !parentWidget()) return;
  placed_ = true;
  const QRect frame = parentWidget()->window()->frameGeometry();
  const QScreen* screen = parentWidget()->screen();
  const QRect room = screen ? screen->availableGeometry() : QRect(0, 0, 1 << 16, 1 << 16);
  // To the main window's left (the sector viewer opens at its right), else its right.
  int x = frame.left() - width() - 8;
  if (x < room.left()) x = frame.right() + 8;
  x = std::clamp(x, room.left(), std::max(room.left(), room.right() - width()));
  const int y = std::clamp(frame.top(), room.top(), std::max(room.top(), room.bottom() - height()));
  move(x, y);
}
