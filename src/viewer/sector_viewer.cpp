#include "viewer/sector_viewer.h"

#include "disk/chunk_buffer.h"
#include "skin/hs_skin_btn.h"
#include "viewer/hex_dump.h"

#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QScreen>
#include <QShowEvent>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <limits>

namespace {

static_assert(TForm1::kSectorSize * TForm1::kSectorsPerChunk == ChunkBuffer::kSize);

/// What the dump shows each time the window is shown, until the user moves.
constexpr std::array<std::uint8_t, TForm1::kSectorSize> kBlankSector{};

/// The largest sector whose byte offset a read can still address.
constexpr qint64 kMaxSector = std::numeric_limits<qint64>::max() / TForm1::kSectorSize;

TForm1::MessageHandler& messageHandler() {
  static TForm1::MessageHandler handler;
  return handler;
}

QString sectorText(std::uint64_t sector) {
  return QStringLiteral("sector : ") + QString::number(sector);
}

/// An edit that keeps the caret where it is when focus arrives, instead of selecting all.
class NoSelectLineEdit : public QLineEdit {
 public:
  using QLineEdit::QLineEdit;

 protected:
  void focusInEvent(QFocusEvent* event) override {
    QLineEdit::focusInEvent(event);
    deselect();
  }
};

QLabel* makeLabel(const QString& text, QWidget* parent, const char* name) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QLatin1String(name));
  return label;
}

}  // namespace

void TForm1::setMessageHandler(MessageHandler handler) {
  messageHandler() = std::move(handler);
}

TForm1::TForm1(const DriveTable& table, ChunkBuffer& buffer, QWidget* parent)
    : QWidget(parent, Qt::Window), table_(table), buffer_(buffer) {
  setWindowTitle(QStringLiteral("Physical Disk Access"));
  resize(763, 538);
  QFont formFont(QStringLiteral("MS Sans Serif"));
  formFont.setPointSize(9);
  setFont(formFont);

  Label4 = makeLabel(QStringLiteral("Demonstration of Physical Disk Access"), this, "Label4");
  QFont bold = Label4->font();
  bold.setBold(true);
  bold.setPointSize(12);
  Label4->setFont(bold);
  Label8 = makeLabel(QStringLiteral("supports Windows(R) 95,98,ME,NT and 2000"), this, "Label8");
  Label5 =
      makeLabel(QStringLiteral("Windows(R) 95/98/ME: uses INT13 Extensions VXD"), this, "Label5");
  Label6 = makeLabel(QStringLiteral("Windows NT/2000: uses NT API"), this, "Label6");
  Label10 = makeLabel(QStringLiteral("Header Sector:"), this, "Label10");
  edStartLBA = new QLineEdit(this);
  edStartLBA->setObjectName(QStringLiteral("edStartLBA"));
  Label2 = makeLabel(QStringLiteral("Sector:"), this, "Label2");
  Edit1 = new NoSelectLineEdit(QStringLiteral("0"), this);
  Edit1->setObjectName(QStringLiteral("Edit1"));
  BitBtn2 = new THSSkinBtn(this);
  BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
  BitBtn2->setCaption(QStringLiteral("\u25C4"));
  BitBtn2->setToolTip(QStringLiteral("Previous sector"));
  BitBtn1 = new THSSkinBtn(this);
  BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
  BitBtn1->setCaption(QStringLiteral("\u25BA"));
  BitBtn1->setToolTip(QStringLiteral("Next sector"));
  Label1 = makeLabel(QStringLiteral("Hexdump:"), this, "Label1");
  Notebook1 = new QStackedWidget(this);
  Notebook1->setObjectName(QStringLiteral("Notebook1"));
  Notebook1->setMinimumSize(553, 401);
  auto* page = new QWidget(Notebook1);
  Notebook1->addWidget(page);
  dump_ = CreateHexDump(page);

  // Heading across the top, the two fields and the step buttons at the left, the dump at the right.
  auto* heading = new QGridLayout;
  heading->addWidget(Label4, 0, 0);
  heading->addWidget(Label8, 1, 0);
  heading->addWidget(Label5, 0, 1, Qt::AlignRight);
  heading->addWidget(Label6, 1, 1, Qt::AlignRight);

  auto* steps = new QHBoxLayout;
  steps->addWidget(BitBtn2);
  steps->addWidget(BitBtn1);
  steps->addStretch();
  auto* fields = new QVBoxLayout;
  fields->addWidget(Label10);
  fields->addWidget(edStartLBA);
  fields->addSpacing(12);
  fields->addWidget(Label2);
  fields->addWidget(Edit1);
  fields->addSpacing(12);
  fields->addLayout(steps);
  fields->addStretch();

  auto* dumpColumn = new QVBoxLayout;
  dumpColumn->addWidget(Label1);
  dumpColumn->addWidget(Notebook1, 1);

  auto* body = new QHBoxLayout;
  body->addLayout(fields);
  body->addSpacing(16);
  body->addLayout(dumpColumn, 1);

  auto* form = new QVBoxLayout(this);
  form->setContentsMargins(16, 12, 16, 16);
  form->addLayout(heading);
  form->addSpacing(16);
  form->addLayout(body, 1);

  connect(BitBtn1, &THSSkinBtn::clicked, this, &TForm1::stepNext);
  connect(BitBtn2, &THSSkinBtn::clicked, this, &TForm1::stepPrevious);
  connect(Edit1, &QLineEdit::returnPressed, this, &TForm1::sectorIndexEntered);
  connect(edStartLBA, &QLineEdit::returnPressed, this, &TForm1::headerSectorEntered);
}

void TForm1::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // A window coming back from the task bar is not being opened.
  if (event->spontaneous()) return;
  dump_->setDataPointer(kBlankSector.data());
  dump_->setDataLength(kSectorSize);
  dump_->SetCurrentLine(0);
}

void TForm1::setDrive(int drive) {
  drive_ = drive;
  const DriveEntry* entry = table_.Find(drive);
  setWindowTitle(entry
                     ? QStringLiteral("Physical Disk Access - %1")
                           .arg(QString::fromStdString(entry->is_image ? entry->name : entry->path))
                     : QStringLiteral("Physical Disk Access"));
}

QString TForm1::pastEndNote(std::uint64_t sector) const {
  DriveParameters parameters;
  if (!table_.GetDriveParameters(drive_, parameters) || sector < parameters.TotalSectors) return {};
  return QStringLiteral(" (past the end of the disk: its last sector is %1)")
      .arg(parameters.TotalSectors == 0 ? 0 : parameters.TotalSectors - 1);
}

void TForm1::placeBesideOwner() {
  if (placed_ || !parentWidget()) return;
  placed_ = true;
  const QWidget* owner = parentWidget()->window();
  const QRect frame = owner->frameGeometry();
  const QScreen* screen = owner->screen();
  const QRect room = screen ? screen->availableGeometry() : QRect(0, 0, 1 << 16, 1 << 16);
  // To its right, else to its left; with room on neither side, on the roomier one,
  // covering as little of it as the screen allows.
  const int right = frame.right() + 8, left = frame.left() - width() - 8;
  int x = right;
  if (right + width() > room.right())
    x = left >= room.left()                                          ? left
        : room.right() - frame.right() >= frame.left() - room.left() ? room.right() - width()
                                                                     : room.left();
  QPoint at(std::clamp(x, room.left(), std::max(room.left(), room.right() - width())),
            std::clamp(frame.top(), room.top(), std::max(room.top(), room.bottom() - height())));
  move(at);
}

void TForm1::showAt(std::uint64_t lba) {
  edStartLBA->setText(QString::number(lba));
  placeBesideOwner();
  show();
  raise();
  activateWindow();
  Label2->setText(sectorText(lba) + pastEndNote(lba));
}

bool TForm1::openAt(std::uint64_t lba) {
  const bool complete = buffer_.ReadDiskChunk(table_, lba, drive_, ChunkBuffer::kSize);
  emit chunkRead(drive_, lba, complete);
  showAt(lba);
  Edit1->setText(QStringLiteral("0"));
  sectorIndex_ = 0;
  showCurrentSector();
  dump_->SetCurrentLine(0);
  return complete;
}

void TForm1::showCurrentSector() {
  Edit1->setText(QString::number(sectorIndex_));
  dump_->setDataPointer(buffer_.data() + static_cast<std::size_t>(sectorIndex_) * kSectorSize);
  dump_->viewport()->repaint();
}

void TForm1::stepNext() {
  if (sectorIndex_ < kSectorsPerChunk - 1) ++sectorIndex_;
  showCurrentSector();
  labelAbsoluteSector();
}

void TForm1::stepPrevious() {
  if (sectorIndex_ > 0) --sectorIndex_;
  showCurrentSector();
  labelAbsoluteSector();
}

void TForm1::labelAbsoluteSector() {
  const std::optional<std::uint64_t> header = headerSector();
  if (!header) return;
  const std::uint64_t sector = *header + static_cast<std::uint64_t>(sectorIndex_);
  Label2->setText(sectorText(sector) + pastEndNote(sector));
}

void TForm1::sectorIndexEntered() {
  const QString text = Edit1->text();
  bool ok = false;
  const int index = text.toInt(&ok, 10);
  if (!ok) {
    reportError(QStringLiteral("'%1' is not a valid integer value").arg(text));
    return;
  }
  if (index < 0 || index >= kSectorsPerChunk) {
    reportError(QStringLiteral("'%1' is not a sector of the buffer: enter a number from 0 to %2.")
                    .arg(text)
                    .arg(kSectorsPerChunk - 1));
    return;
  }
  sectorIndex_ = index;
  showCurrentSector();
}

void TForm1::headerSectorEntered() {
  const std::optional<std::uint64_t> lba = headerSector();
  if (!lba) return;
  readChunk(*lba);
  Label2->setText(QStringLiteral("sector : ") + edStartLBA->text() + pastEndNote(*lba));
  Edit1->setText(QStringLiteral("0"));
  sectorIndex_ = 0;
  showCurrentSector();
  dump_->SetCurrentLine(0);  // a new header sector is shown from its top
}

void TForm1::readChunk(std::uint64_t lba) {
  // A failed read leaves the buffer zero-filled; the dump then shows zeros.
  const bool complete = buffer_.ReadDiskChunk(table_, lba, drive_, ChunkBuffer::kSize);
  emit chunkRead(drive_, lba, complete);
}

std::optional<std::uint64_t> TForm1::headerSector() {
  const QString text = edStartLBA->text();
  bool ok = false;
  const qint64 value = text.toLongLong(&ok, 10);
  if (!ok) {
    reportError(QStringLiteral("'%1' is not a valid integer value").arg(text));
    return std::nullopt;
  }
  if (value < 0 || value > kMaxSector) {
    reportError(QStringLiteral("'%1' is not a valid sector number").arg(text));
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(value);
}

void TForm1::reportError(const QString& message) {
  if (messageHandler()) {
    messageHandler()(message);
    return;
  }
  QMessageBox::critical(this, QApplication::applicationDisplayName(), message);
}
