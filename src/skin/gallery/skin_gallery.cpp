// Shows the skinned window, its controls and every picture in every state. With --shots DIR it
// writes screenshots there and quits; otherwise the windows stay open to be tried by hand.
#include "skin/button_skin.h"
#include "skin/cool_form.h"
#include "skin/ez_rgn_btn.h"
#include "skin/hs_skin_btn.h"
#include "skin/skin_art.h"
#include "skin/skin_label.h"
#include "skin/skin_layout.h"

#include <QApplication>
#include <QDir>
#include <QEnterEvent>
#include <QGridLayout>
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <cstdio>

namespace {

using SkinLayout::RegionButton;

const QColor kInk(0x16, 0x32, 0x4F);
const QColor kMuted(0x5C, 0x6F, 0x82);
const QColor kBody(0xED, 0xF1, 0xF5);

enum Look { Normal, Hover, Pressed, Off };
const char* const kLookNames[] = {"idle / normal", "hover", "pressed", "disabled"};

/// Puts a control into a state by the events a user would cause.
void putInState(QWidget* w, Look look) {
  const QPointF centre = QRectF(w->rect()).center();
  if (look == Hover || look == Pressed) {
    QEnterEvent enter(centre, centre, w->mapToGlobal(centre));
    QCoreApplication::sendEvent(w, &enter);
  }
  if (look == Pressed) {
    QMouseEvent press(QEvent::MouseButtonPress, centre, w->mapToGlobal(centre), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &press);
  }
  if (look == Off) w->setEnabled(false);
}

QPalette pagePalette() {
  QPalette pal = QApplication::palette();
  pal.setColor(QPalette::Window, Qt::white);
  pal.setColor(QPalette::WindowText, kInk);
  pal.setColor(QPalette::ButtonText, kInk);
  pal.setColor(QPalette::Text, kInk);
  pal.setColor(QPalette::Highlight, QColor(0x0B, 0x7C, 0x8F));
  return pal;
}

THSSkinBtn* pushButton(QWidget* parent, const QString& caption, int width = 88) {
  auto* b = new THSSkinBtn(parent);
  b->setCaption(caption);
  b->resize(width, 25);
  return b;
}

QLabel* label(QWidget* parent, const QString& text, int px = 12, bool bold = false,
              QColor colour = kInk) {
  return MakeSkinLabel(parent, text, px, bold, colour);
}

QTreeWidget* list(QWidget* parent, const QStringList& headers) {
  auto* t = new QTreeWidget(parent);
  t->setHeaderLabels(headers);
  t->setRootIsDecorated(false);
  t->setAlternatingRowColors(false);
  t->setFrameShape(QFrame::StyledPanel);
  return t;
}

/// The drive page as the main window will show it, to judge the pictures with real controls.
QWidget* drivePage(QWidget* parent) {
  auto* page = new QWidget(parent);
  label(page, QStringLiteral("Please select a drive from where to restore the files"), 14, true)
      ->move(20, 16);
  auto* drives = list(page, {QStringLiteral("Available Drive")});
  drives->setGeometry(20, 48, 270, 220);
  drives->setColumnWidth(0, 250);
  for (const char* d :
       {"Disk 0: ST500DM002-1BD142", "Disk 1: Samsung SSD 860 EVO", "Disk 2: USB Flash Disk"})
    drives->addTopLevelItem(new QTreeWidgetItem({QString::fromLatin1(d)}));
  drives->setCurrentItem(drives->topLevelItem(1));
  const char* rows[][2] = {{"Type:", "Fixed disk"},
                           {"Model:", "Samsung SSD 860 EVO"},
                           {"Physical id:", "\\\\.\\PhysicalDrive1"},
                           {"Bytes per sector:", "512"},
                           {"Capacity:", "465.76 GB"}};
  int y = 52;
  for (const auto& row : rows) {
    label(page, QString::fromLatin1(row[0]), 12, false, kMuted)->move(310, y);
    label(page, QString::fromLatin1(row[1]), 12, true)->move(420, y);
    y += 26;
  }
  pushButton(page, QStringLiteral("Refresh"))->move(20, 282);
  return page;
}

/// The scan page after a scan, with its five push buttons.
QWidget* scanPage(QWidget* parent) {
  auto* page = new QWidget(parent);
  auto* types = list(page, {QStringLiteral("File type")});
  types->setGeometry(16, 14, 150, 196);
  const char* typeRows[] = {"ARJ", "AVI", "BMP (2)", "DOC (1)", "GIF", "JPG (14)", "MP3 (3)"};
  for (const char* t : typeRows) {
    auto* item = new QTreeWidgetItem({QString::fromLatin1(t)});
    item->setCheckState(0, QString::fromLatin1(t).contains('(') ? Qt::Checked : Qt::Unchecked);
    types->addTopLevelItem(item);
  }
  auto* found =
      list(page, {QStringLiteral("Name"), QStringLiteral("Size"), QStringLiteral("Start sector")});
  found->setGeometry(176, 14, 416, 196);
  found->setColumnWidth(0, 180);
  for (int i = 0; i < 6; ++i) {
    const int sector = 20480 + i * 3016;
    auto* item =
        new QTreeWidgetItem({QStringLiteral("FILE_%1.JPG").arg(sector),
                             QStringLiteral("%1 KB").arg(1508 - i * 97), QString::number(sector)});
    item->setCheckState(0, Qt::Checked);
    found->addTopLevelItem(item);
  }
  const char* figures[][2] = {
      {"Total Sectors:", "976773168"}, {"Curent Sector:", "976773168"}, {"Found File:", "20"}};
  int x = 16;
  for (const auto& f : figures) {
    label(page, QString::fromLatin1(f[0]), 11, false, kMuted)->move(x, 222);
    auto* edit = new QLineEdit(QString::fromLatin1(f[1]), page);
    edit->setReadOnly(true);
    edit->setGeometry(x, 238, 130, 24);
    x += 142;
  }
  label(page, QStringLiteral("Progress:"), 11, false, kMuted)->move(x, 222);
  auto* progress = new QProgressBar(page);
  progress->setGeometry(x, 240, 592 - x, 20);
  progress->setValue(100);
  x = 16;
  for (const char* caption :
       {"Stop Scan", "Save Files", "Select All", "Select None", "Browse..."}) {
    auto* b = pushButton(page, QString::fromLatin1(caption), 100);
    b->move(x, 284);
    if (QLatin1String(caption) == QLatin1String("Stop Scan")) b->setEnabled(false);
    if (QLatin1String(caption) == QLatin1String("Save Files")) putInState(b, Hover);
    x += 108;
  }
  return page;
}

/// A main window built the way the program builds it: face, page control, six region buttons.
/// Next, Previous, Restart and Exit work, so that it can be tried by hand.
QWidget* mainWindow(bool scanEnded) {
  auto* form = new QWidget;
  form->setAttribute(Qt::WA_DeleteOnClose);
  form->setWindowTitle(QStringLiteral("Trawlex Recovery"));
  form->setFixedSize(SkinLayout::kMainFaceSize);
  auto* face = new TCoolForm(form);
  face->setPicture(SkinArt::mainFace());

  auto* pages = new QStackedWidget(form);
  pages->setGeometry(SkinLayout::kMainPagePlace.adjusted(2, 2, -2, -2));
  pages->setPalette(pagePalette());
  pages->setAutoFillBackground(true);
  pages->addWidget(drivePage(pages));
  pages->addWidget(scanPage(pages));

  QHash<RegionButton, TEzRgnBtn*> buttons;
  for (RegionButton which : SkinLayout::kRegionButtons) {
    auto* b = new TEzRgnBtn(form);
    SkinArt::setUpRegionButton(b, which);
    buttons.insert(which, b);
  }
  auto showPage = [=](int index) {
    pages->setCurrentIndex(index);
    buttons[RegionButton::Previous]->setEnabled(index == 1);
    buttons[RegionButton::Next]->setVisible(index == 0);
    buttons[RegionButton::Restart]->setVisible(index == 1);
  };
  showPage(scanEnded ? 1 : 0);
  QObject::connect(buttons[RegionButton::Next], &TEzRgnBtn::clicked, form, [=] { showPage(1); });
  QObject::connect(buttons[RegionButton::Previous], &TEzRgnBtn::clicked, form,
                   [=] { showPage(0); });
  QObject::connect(buttons[RegionButton::Restart], &TEzRgnBtn::clicked, form, [=] { showPage(0); });
  QObject::connect(buttons[RegionButton::Exit], &TEzRgnBtn::clicked, form, &QWidget::close);
  if (scanEnded)
    putInState(buttons[RegionButton::Restart], Hover);
  else
    putInState(buttons[RegionButton::Help], Hover);
  return form;
}

/// A cell that shows a region button over the piece of the face it stands on.
QWidget* regionCell(RegionButton which, Look look) {
  const QRect place = SkinLayout::regionButtonPlace(which);
  auto* cell = new QLabel;
  const QRect around = place.adjusted(-8, -8, 8, 8);
  const QPixmap face = SkinArt::mainFace();
  const qreal ratio = face.devicePixelRatio();
  cell->setPixmap(
      face.copy(QRectF(QPointF(around.topLeft()) * ratio, QSizeF(around.size()) * ratio).toRect()));
  cell->setFixedSize(around.size());
  auto* b = new TEzRgnBtn(cell);
  SkinArt::setUpRegionButton(b, which);
  b->move(8, 8);
  putInState(b, look);
  return cell;
}

QWidget* section(const QString& title, QWidget* body) {
  auto* box = new QWidget;
  auto* v = new QVBoxLayout(box);
  v->setContentsMargins(0, 0, 0, 0);
  v->setSpacing(8);
  v->addWidget(label(box, title, 15, true));
  v->addWidget(body);
  return box;
}

QWidget* regionGrid() {
  auto* grid = new QWidget;
  auto* g = new QGridLayout(grid);
  g->setHorizontalSpacing(14);
  g->setVerticalSpacing(6);
  const char* names[] = {"Next", "Restart", "Previous", "Exit", "Settings", "Help"};
  for (int c = 0; c < 4; ++c)
    g->addWidget(label(grid, QString::fromLatin1(kLookNames[c]), 11, false, kMuted), 0, c + 1);
  int row = 1;
  for (RegionButton which : SkinLayout::kRegionButtons) {
    g->addWidget(label(grid, QString::fromLatin1(names[row - 1]), 12), row, 0);
    for (int c = 0; c < 4; ++c) g->addWidget(regionCell(which, Look(c)), row, c + 1);
    ++row;
  }
  return grid;
}

/// Push buttons in every state and shape, on the white page and on a grey parent.
QWidget* pushGrid() {
  auto* grid = new QWidget;
  auto* g = new QGridLayout(grid);
  g->setHorizontalSpacing(10);
  g->setVerticalSpacing(6);
  struct Row {
    const char* name;
    int shape;
    int width;
    QColor parent;
  };
  const Row rows[] = {{"shape 0, 88 wide", 0, 88, Qt::white},
                      {"shape 0, 140 wide", 0, 140, Qt::white},
                      {"shape 0 on grey", 0, 88, kBody},
                      {"shape 2 (rounded)", 2, 88, Qt::white},
                      {"shape 1 (elliptic)", 1, 0, Qt::white}};
  for (int c = 0; c < 4; ++c)
    g->addWidget(label(grid, QString::fromLatin1(kLookNames[c]), 11, false, kMuted), 0, c + 1);
  int r = 1;
  for (const Row& row : rows) {
    g->addWidget(label(grid, QString::fromLatin1(row.name), 12), r, 0);
    for (int c = 0; c < 4; ++c) {
      auto* holder = new QWidget;
      QPalette pal = pagePalette();
      pal.setColor(QPalette::Window, row.parent);
      holder->setPalette(pal);
      holder->setAutoFillBackground(true);
      holder->setFixedSize(156, 37);
      auto* b = new THSSkinBtn(holder);
      b->ButtonSkin()->setButtonShape(row.shape);
      b->setCaption(row.shape == 1 ? QStringLiteral("OK") : QStringLiteral("Save Files"));
      b->resize(row.width ? row.width : 62, 25);
      b->move(6, 6);
      putInState(b, Look(c));
      g->addWidget(holder, r, c + 1);
    }
    ++r;
  }
  return grid;
}

QWidget* pictureBox(const QPixmap& pixmap, const QString& caption) {
  auto* box = new QWidget;
  auto* v = new QVBoxLayout(box);
  v->setContentsMargins(0, 0, 0, 0);
  auto* picture = new QLabel;
  picture->setPixmap(pixmap);
  v->addWidget(picture);
  v->addWidget(label(box, caption, 11, false, kMuted));
  return box;
}

/// The splash face with the about block and the OK button where the splash window puts them.
QWidget* splash() {
  auto* form = new QWidget;
  form->setFixedSize(SkinLayout::kSplashFaceSize);
  auto* face = new TCoolForm(form);
  face->setPicture(SkinArt::splashFace());
  QPalette white = pagePalette();
  auto* about = new QWidget(form);
  about->setGeometry(SkinLayout::kSplashAboutPanel);
  about->setPalette(white);
  about->setAutoFillBackground(true);
  label(about, QStringLiteral("Ostrel Trawlex Finder"), 13, true)->move(0, 0);
  label(about, QStringLiteral("Version 1.0"), 11, false, kMuted)->move(0, 19);
  label(about, QStringLiteral("Copyright (c) Ostrel Software"), 11, false, kMuted)->move(0, 35);
  label(about, QStringLiteral("Contact points are: "), 11, false, kMuted)->move(0, 53);
  label(about, QStringLiteral("www.ostrel.example"), 11, false, QColor(0x0B, 0x6F, 0xB8))
      ->move(122, 53);
  auto* buttons = new QWidget(form);
  buttons->setGeometry(SkinLayout::kSplashButtonPanel);
  buttons->setPalette(white);
  buttons->setAutoFillBackground(true);
  auto* ok = new THSSkinBtn(buttons);
  ok->setCaption(QStringLiteral("OK"));
  QFont bold = ok->font();
  bold.setBold(true);
  ok->setFont(bold);
  ok->setGeometry(99, 0, 70, 25);
  auto* loading = label(form, QStringLiteral("Loading ......"), 12, false, Qt::white);
  loading->setGeometry(SkinLayout::kSplashLoadingLabel);
  return form;
}

/// A crop demonstration: a magenta-keyed picture and, beside it, the area that takes clicks.
QWidget* cropDemo() {
  QImage picture(96, 40, QImage::Format_RGB32);
  picture.fill(QColor(255, 0, 255));
  {
    QPainter p(&picture);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x0B, 0x7C, 0x8F));
    p.drawEllipse(QRect(2, 2, 36, 36));
    p.drawRect(QRect(30, 10, 60, 20));
    p.fillRect(QRect(60, 16, 8, 8), QColor(255, 0, 255));  // a hole in the middle
  }
  auto* box = new QWidget;
  auto* h = new QHBoxLayout(box);
  h->setContentsMargins(0, 0, 0, 0);
  auto* raw = new QLabel;
  raw->setPixmap(QPixmap::fromImage(picture));
  h->addWidget(raw);
  auto* holder = new QWidget;
  holder->setFixedSize(96, 40);
  auto* b = new TEzRgnBtn(holder);
  b->setPicIdle(QPixmap::fromImage(picture));
  b->setPaintMode(TEzRgnBtn::pmCrop);
  h->addWidget(holder);
  QImage area(96, 40, QImage::Format_RGB32);
  area.fill(Qt::white);
  {
    QPainter p(&area);
    p.setClipRegion(b->clickableRegion());
    p.fillRect(area.rect(), QColor(0xE0, 0x45, 0x4B));
  }
  auto* shown = new QLabel;
  shown->setPixmap(QPixmap::fromImage(area));
  h->addWidget(shown);
  h->addWidget(
      label(box, QStringLiteral("key picture, cropped button, clickable area"), 11, false, kMuted));
  h->addStretch();
  return box;
}

QWidget* gallery() {
  auto* page = new QWidget;
  page->setAttribute(Qt::WA_DeleteOnClose);
  QPalette pal = pagePalette();
  pal.setColor(QPalette::Window, QColor(0xF7, 0xF9, 0xFB));
  page->setPalette(pal);
  page->setAutoFillBackground(true);
  auto* grid = new QGridLayout(page);
  grid->setContentsMargins(24, 20, 24, 24);
  grid->setHorizontalSpacing(36);
  grid->setVerticalSpacing(22);
  grid->addWidget(section(QStringLiteral("Region buttons (TEzRgnBtn, crop mode)"), regionGrid()), 0,
                  0, 2, 1, Qt::AlignTop);
  grid->addWidget(section(QStringLiteral("Push buttons (THSSkinBtn, DEFAULT_SKIN)"), pushGrid()), 0,
                  1);
  auto* pictures = new QWidget;
  auto* h = new QHBoxLayout(pictures);
  h->setContentsMargins(0, 0, 0, 0);
  h->setSpacing(18);
  h->addWidget(pictureBox(QPixmap::fromImage(SkinArt::defaultSkin()).scaled(124, 200),
                          QStringLiteral("DEFAULT_SKIN, 2x")));
  h->addWidget(pictureBox(SkinArt::updateWizardSide(), QStringLiteral("Update wizard, 116 x 201")));
  h->addStretch();
  grid->addWidget(section(QStringLiteral("Pictures"), pictures), 1, 1);
  grid->addWidget(section(QStringLiteral("Splash and about face (TCoolForm)"), splash()), 2, 0);
  grid->addWidget(section(QStringLiteral("Crop outline from the idle picture"), cropDemo()), 2, 1,
                  Qt::AlignTop);
  return page;
}

QWidget* mainWindows() {
  auto* page = new QWidget;
  page->setAttribute(Qt::WA_DeleteOnClose);
  QPalette pal = page->palette();
  pal.setColor(QPalette::Window, QColor(0x3A, 0x44, 0x4F));
  page->setPalette(pal);
  page->setAutoFillBackground(true);
  auto* h = new QHBoxLayout(page);
  h->setContentsMargins(24, 24, 24, 24);
  h->setSpacing(24);
  for (bool ended : {false, true}) {
    QWidget* w = mainWindow(ended);
    w->setParent(page);
    h->addWidget(w);
  }
  return page;
}

bool shoot(QWidget* w, const QDir& dir, const QString& name) {
  w->show();
  w->adjustSize();
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
  const QString path = dir.filePath(name);
  if (!w->grab().save(path)) {
    std::fprintf(stderr, "skin_gallery: cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("wrote %s\n", qPrintable(path));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationDisplayName(QStringLiteral("Ostrel Trawlex Finder"));
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(12);
  QApplication::setFont(font);

  const QStringList args = QApplication::arguments();
  const qsizetype at = args.indexOf(QStringLiteral("--shots"));
  if (at >= 0 && at + 1 < args.size()) {
    const QDir dir(args[at + 1]);
    bool ok = shoot(gallery(), dir, QStringLiteral("skin-gallery.png"));
    ok = shoot(mainWindows(), dir, QStringLiteral("skin-main-window.png")) && ok;
    return ok ? 0 : 1;
  }
  if (args.contains(QStringLiteral("--gallery"))) gallery()->show();
  QWidget* live = mainWindow(false);
  live->move(40, 40);
  live->show();
  return app.exec();
}
