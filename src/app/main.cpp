// trawlex-finder: the desktop program. Creates its windows once, in their order, and runs
// until the main window closes.

#include "disk/drive_table.h"
#include "help/about/splash_frm.h"
#include "help/help_context.h"
#include "help/help_diagnostics.h"
#include "help/ui/help_system.h"
#include "recovery/program_files.h"
#include "recovery/ui/main_frm.h"
#include "recovery/ui/process_frm.h"
#include "recovery/ui/prompter.h"
#include "recovery/ui/qt_options_store.h"
#include "recovery/ui/settings_frm.h"
#include "viewer/debug_log.h"
#include "viewer/sector_viewer.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

int main(int argc, char** argv) {
  // The help engine and the start-up diagnostics (debug mode, HHDebug.txt) come first.
  const trawlex::help::HelpStartup helpStartup(argc, argv);
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Ostrel Trawlex Finder"));

  DriveTable& table = DefaultDriveTable();
  // Disk image files named on the command line are offered as drives.
  for (const QString& arg : QApplication::arguments().mid(1))
    if (QFileInfo(arg).isFile())
      table.RegisterImage(QFileInfo(arg).absoluteFilePath().toStdString());

  QtOptionsStore options;
  MessageBoxPrompter prompter;
  MainFrmServices services;
  services.table = &table;
  services.options = &options;
  services.prompter = &prompter;
  services.folders.program_folder =
      QDir(QApplication::applicationDirPath()).absolutePath().toStdString();
  services.folders.data_folder =
      QStandardPaths::writableLocation(QStandardPaths::AppDataLocation).toStdString();

  TmainFrm mainFrm(std::move(services));
  // Help requests of the whole program (F1, What's This) go to the help file's topics. The
  // program's own files are looked for beside it, then in the installed data folder.
  const std::string programFolder = QApplication::applicationDirPath().toStdString();
  const QString helpFile =
      QDir(QString::fromStdString(FolderHolding(programFolder, "OstrelTrawlexFinder.chm")))
          .filePath(QStringLiteral("OstrelTrawlexFinder.chm"));
  HelpSystem help(helpFile);
  SetHelpContext(&mainFrm, trawlex::help::kMainHelpContext);
  mainFrm.setHelpContextOpener(
      [helpFile](int context) { return ShowHelpContext(helpFile, context); });
  mainFrm.setDebugMode(trawlex::help::DebugMode());
  TdebugFrm debugFrm(&mainFrm);
  TForm1 form1(table, mainFrm.scanBuffer(), &mainFrm);
  const QString splashFolder =
      QString::fromStdString(FolderHolding(programFolder, "Data/splash.bmp"));
  TFrmSplash splashFrm(QApplication::applicationFilePath(), splashFolder,
                       [&](QWidget* owner, const QString& text) { mainFrm.OpenLink(owner, text); });
  TFrmSettings settingsFrm([&] { return mainFrm.MaxSizeOfRecoverMB(); },
                           [&](std::uint32_t mb) { mainFrm.SetMaxSizeOfRecoverMB(mb); }, prompter,
                           &mainFrm);
  TprocessFrm processFrm(&mainFrm);
  mainFrm.setSettingsForm(&settingsFrm);
  mainFrm.setProcessForm(&processFrm);
  mainFrm.setDebugForm(&debugFrm);
  mainFrm.setViewerForm(&form1);
  mainFrm.setSplashForm(&splashFrm);
  SetHelpContext(&settingsFrm, 60);
  SetHelpContext(&processFrm, 50);
  SetHelpContext(&form1, 90);
  // The splash closes itself after about 0.7 s; then the main window shows.
  splashFrm.ShowSplash(true);
  mainFrm.show();
  return QApplication::exec();
}
