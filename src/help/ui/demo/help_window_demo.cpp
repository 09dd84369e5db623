// help_window_demo [CONTEXT [SCREENSHOT.png [HELPFILE]]] [-debug]: opens the help window on a
// context of the help file beside the program (10, the main topic, by default). With a file name it
// writes a picture of the window there and ends.

#include <QApplication>
#include <QTimer>

#include <cstdio>

#include "help/help_diagnostics.h"
#include "help/ui/help_system.h"
#include "help/ui/help_window.h"

int main(int argc, char** argv) {
  const trawlex::help::HelpStartup help_startup(argc, argv);
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Ostrel Trawlex Finder"));
  QStringList args = QApplication::arguments();
  // The debug switches are the help system's, not the demo's.
  args.removeIf([](const QString& a) {
    return a.compare(QLatin1String("-debug"), Qt::CaseInsensitive) == 0 ||
           a.compare(QLatin1String("/debug"), Qt::CaseInsensitive) == 0;
  });
  const int context = args.size() > 1 ? args[1].toInt() : trawlex::help::kMainHelpContext;
  const QString shot = args.size() > 2 ? args[2] : QString();
  const QString file = args.size() > 3 ? args[3] : DefaultHelpFilePath();

  HelpSystem help(file);
  if (!help.showHelpContext(file, context)) {
    std::fprintf(stderr, "%s (%s)\n", trawlex::help::kCannotLoadHelpFile, qPrintable(file));
    return 1;
  }
  if (shot.isEmpty()) return QApplication::exec();
  QTimer::singleShot(500, [&] {
    const bool saved = help.window()->grab().save(shot);
    QApplication::exit(saved ? 0 : 1);
  });
  return QApplication::exec();
}
