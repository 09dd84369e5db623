// Walks the live update wizard through its seven pages against a local update server and
// saves a picture of each into a folder (docs/ in the repository). Run under Xvfb:
//   xvfb-run -a -s "-screen 0 1280x800x24" update_wizard_tour OUT_DIR

#include <QApplication>
#include <QListWidget>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTest>
#include <cstdio>

#include "skin/hs_skin_btn.h"
#include "update/test_util.h"
#include "update/update_site.h"
#include "update/web_update.h"
#include "update/wizard/wu_wiz_form.h"

using namespace trawlex::update;

namespace {

void Save(QWidget* w, const QString& path) {
  QApplication::processEvents();
  if (!w->grab().save(path)) std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: update_wizard_tour OUT_DIR\n");
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  testing::UpdateSite site;
  if (!site.running()) return 1;
  testing::ScopedCurrentDir cwd(site.program_.path());
  TWebUpdate engine;
  site.Serve(engine);
  TWUWIZ form;
  form.setWindowTitle(QStringLiteral("Live Update"));
  form.AttachEngine(&engine);
  form.show();
  if (!QTest::qWaitForWindowExposed(&form)) std::fprintf(stderr, "the window did not show\n");
  const auto click = [](THSSkinBtn* b) { QTest::mouseClick(b, Qt::LeftButton); };
  Save(&form, out + "/update-1-welcome.png");
  click(form.StartButton);
  Save(&form, out + "/update-2-result.png");
  click(form.ControlButton);
  Save(&form, out + "/update-3-whats-new.png");
  click(form.NewButton);
  QTest::mouseClick(form.RAccept, Qt::LeftButton, {}, QPoint(6, form.RAccept->height() / 2));
  Save(&form, out + "/update-4-licence.png");
  click(form.EULAButton);
  Save(&form, out + "/update-5-components.png");
  // The download page, photographed halfway through the cabinet.
  bool taken = false;
  const auto progress = engine.OnFileProgress;
  engine.OnFileProgress = [&](TWebUpdate& e, const std::string& name, int64_t pos, int64_t size) {
    progress(e, name, pos, size);
    if (!taken && size > 0 && pos * 2 >= size) {
      taken = true;
      Save(&form, out + "/update-6-download.png");
    }
  };
  click(form.FilesButton);
  Save(&form, out + "/update-7-done.png");
  return taken ? 0 : 1;
}
