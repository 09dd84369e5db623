#include "help/ui/help_system.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMessageBox>
#include <QWidget>

#include "help/help_engine.h"
#include "help/help_path.h"
#include "help/hook_help_system.h"
#include "help/ui/help_window.h"

namespace {

HelpSystem* g_instance = nullptr;

HelpSystem::MessageHandler& Handler() {
  static HelpSystem::MessageHandler handler;
  return handler;
}

/// F1, or the Help key of keyboards that have one.
bool IsHelpKey(const QKeyEvent& event) {
  const Qt::KeyboardModifiers modifiers = event.modifiers() & ~Qt::KeypadModifier;
  return (event.key() == Qt::Key_F1 && modifiers == Qt::NoModifier) || event.key() == Qt::Key_Help;
}

/// A point as a help request carries it: two signed 16-bit halves, x low and y high.
int32_t PackPoint(const QPoint& point) {
  const auto x = static_cast<uint16_t>(static_cast<int16_t>(point.x()));
  const auto y = static_cast<uint16_t>(static_cast<int16_t>(point.y()));
  return static_cast<int32_t>(static_cast<uint32_t>(y) << 16 | x);
}

}  // namespace

QString DefaultHelpFilePath() {
  return QDir(QApplication::applicationDirPath())
      .filePath(QStringLiteral("OstrelTrawlexFinder.chm"));
}

void SetHelpContext(QWidget* widget, int context) {
  widget->setProperty(kHelpContextProperty, context);
}

int HelpContextOf(const QWidget* widget) {
  for (; widget != nullptr; widget = widget->parentWidget()) {
    bool ok = false;
    const int context = widget->property(kHelpContextProperty).toInt(&ok);
    if (ok && context > 0) return context;
  }
  return 0;
}

HelpSystem::HelpSystem(const QString& helpFile, QObject* parent) : QObject(parent) {
  g_instance = this;
  trawlex::help::SetHelpWindowHost(this);
  hook_ = std::make_unique<trawlex::help::THookHelpSystem>(helpFile.toStdString(), std::string(),
                                                           trawlex::help::HostApi);
  qApp->installEventFilter(this);
}

HelpSystem::~HelpSystem() {
  qApp->removeEventFilter(this);
  hook_.reset();  // closes the help window through this host
  if (trawlex::help::CurrentHelpWindowHost() == this) trawlex::help::SetHelpWindowHost(nullptr);
  window_.reset();
  if (g_instance == this) g_instance = nullptr;
}

HelpSystem* HelpSystem::instance() {
  return g_instance;
}

void HelpSystem::setMessageHandler(MessageHandler handler) {
  Handler() = std::move(handler);
}

bool HelpSystem::showHelpContext(const QString& chmPath, int context) {
  if (!trawlex::help::HelpEngineLoaded()) return false;
  if (!window_) window_ = std::make_unique<HelpWindow>();
  if (!window_->openFile(chmPath)) return false;
  window_->showContext(context);
  window_->show();
  window_->raise();
  window_->activateWindow();
  return true;
}

bool HelpSystem::eventFilter(QObject* watched, QEvent* event) {
  auto* widget = qobject_cast<QWidget*>(watched);
  if (widget == nullptr) return false;
  switch (event->type()) {
    case QEvent::KeyPress: {
      if (!IsHelpKey(*static_cast<QKeyEvent*>(event))) return false;
      const int context = HelpContextOf(widget);
      return context > 0 &&
             trawlex::help::ApplicationHelpCommand(trawlex::help::HELP_CONTEXT, context);
    }
    case QEvent::QueryWhatsThis:
      if (HelpContextOf(widget) <= 0) return false;
      event->accept();
      return true;
    case QEvent::WhatsThis: {
      const int context = HelpContextOf(widget);
      if (context <= 0) return false;
      const QPoint at = static_cast<QHelpEvent*>(event)->globalPos();
      trawlex::help::ApplicationHelpCommand(trawlex::help::HELP_SETPOPUP_POS, PackPoint(at));
      return trawlex::help::ApplicationHelpCommand(trawlex::help::HELP_CONTEXTPOPUP, context);
    }
    default:
      return false;
  }
}

bool HelpSystem::ShowHelpContext(const std::string& target, int32_t context) {
  const trawlex::help::HelpPathParts parts = trawlex::help::ParseHelpPath(target);
  if (showHelpContext(QString::fromStdString(parts.file), context)) return true;
  // The help engine tells of a file it cannot show itself.
  ShowWarning(trawlex::help::kCannotLoadHelpFile);
  return false;
}

void HelpSystem::CloseAllHelpWindows() {
  if (window_) window_->hide();
}

void HelpSystem::ShowWarning(const std::string& text) {
  const QString message = QString::fromStdString(text);
  if (Handler()) {
    Handler()(message);
    return;
  }
  QMessageBox::warning(QApplication::activeWindow(), QApplication::applicationName(), message);
}

bool ShowHelpContext(const QString& chmPath, int context) {
  HelpSystem* help = HelpSystem::instance();
  return help != nullptr && help->showHelpContext(chmPath, context);
}
