#include "help/ui/help_window.h"

#include <QAction>
#include <QDesktopServices>
#include <QKeySequence>
#include <QSplitter>
#include <QStyle>
#include <QTextBrowser>
#include <QToolBar>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <vector>

#include "help/chm_file.h"
#include "help/help_path.h"

namespace {

constexpr auto kScheme = "chm";

/// "/page.htm" from a topic as pages and sitemaps write it ("page.htm", "dir\page.htm").
QString RootedTopic(QString topic) {
  topic.replace(QLatin1Char('\\'), QLatin1Char('/'));
  if (!topic.startsWith(QLatin1Char('/'))) topic.prepend(QLatin1Char('/'));
  return topic;
}

}  // namespace

/// A text browser that takes its pages, pictures and style sheets from the open help file.
class HelpWindow::Browser : public QTextBrowser {
 public:
  explicit Browser(const HelpWindow& window, QWidget* parent)
      : QTextBrowser(parent), window_(window) {}

  QVariant loadResource(int type, const QUrl& name) override {
    if (name.scheme() != QLatin1String(kScheme) || !window_.file_)
      return QTextBrowser::loadResource(type, name);
    const auto data = window_.file_->Read(name.path().toStdString());
    if (!data) return {};
    return QByteArray(data->data(), static_cast<qsizetype>(data->size()));
  }

 private:
  const HelpWindow& window_;
};

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("helpWindow"));
  setWindowTitle(QStringLiteral("Help"));
  resize(1000, 680);

  auto* toolbar = new QToolBar(this);
  toolbar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  back_ = toolbar->addAction(style()->standardIcon(QStyle::SP_ArrowBack), QStringLiteral("Back"));
  back_->setShortcut(QKeySequence::Back);
  forward_ =
      toolbar->addAction(style()->standardIcon(QStyle::SP_ArrowForward), QStringLiteral("Forward"));
  forward_->setShortcut(QKeySequence::Forward);
  home_ = toolbar->addAction(style()->standardIcon(QStyle::SP_DirHomeIcon), QStringLiteral("Home"));
  back_->setEnabled(false);
  forward_->setEnabled(false);

  auto* splitter = new QSplitter(this);
  topics_ = new QTreeWidget(splitter);
  topics_->setObjectName(QStringLiteral("topicList"));
  topics_->setHeaderHidden(true);
  topics_->setColumnCount(1);
  browser_ = new Browser(*this, splitter);
  browser_->setObjectName(QStringLiteral("helpBrowser"));
  browser_->setOpenLinks(false);
  splitter->setStretchFactor(0, 0);
  splitter->setStretchFactor(1, 1);
  splitter->setSizes({260, 740});

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(toolbar);
  layout->addWidget(splitter, 1);

  connect(back_, &QAction::triggered, browser_, &QTextBrowser::backward);
  connect(forward_, &QAction::triggered, browser_, &QTextBrowser::forward);
  connect(home_, &QAction::triggered, this, [this] { showTopic(homeTopic()); });
  connect(browser_, &QTextBrowser::backwardAvailable, back_, &QAction::setEnabled);
  connect(browser_, &QTextBrowser::forwardAvailable, forward_, &QAction::setEnabled);
  connect(browser_, &QTextBrowser::anchorClicked, this, &HelpWindow::followLink);
  connect(browser_, &QTextBrowser::sourceChanged, this, &HelpWindow::pageChanged);
  connect(topics_, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) {
    const QString local = item->data(0, Qt::UserRole).toString();
    if (!local.isEmpty()) showTopic(local);
  });
  connect(topics_, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) {
    const QString local = item->data(0, Qt::UserRole).toString();
    if (!local.isEmpty()) showTopic(local);
  });
}

HelpWindow::~HelpWindow() = default;

bool HelpWindow::openFile(const QString& path, QString* error) {
  if (file_ && filePath() == path) return true;
  std::string err;
  auto file = trawlex::help::ChmFile::Open(path.toStdString(), &err);
  if (!file) {
    if (error) *error = QString::fromStdString(err);
    return false;
  }
  file_ = std::move(file);
  browser_->clear();
  browser_->clearHistory();
  const QString title = QString::fromStdString(file_->Title());
  setWindowTitle(title.isEmpty() ? QStringLiteral("Help") : title);
  fillTopicList();
  return true;
}

QString HelpWindow::filePath() const {
  return file_ ? QString::fromStdString(file_->path()) : QString();
}

bool HelpWindow::showContext(int context) {
  if (!file_) return false;
  const auto topic = context >= 0 ? file_->ContextTopic(static_cast<uint32_t>(context))
                                  : std::optional<std::string>();
  if (topic && showTopic(QString::fromStdString(*topic))) return true;
  showTopic(homeTopic());
  return false;
}

bool HelpWindow::showTopic(const QString& topic) {
  if (!file_ || topic.isEmpty()) return false;
  const QUrl url = topicUrl(topic);
  const auto stored = file_->Find(url.path().toStdString());
  if (!stored) return false;
  QUrl target = topicUrl(QString::fromStdString(*stored));
  if (url.hasFragment()) target.setFragment(url.fragment());
  // The page shown already is not loaded again (a click and an activation of one topic).
  if (target != browser_->source()) browser_->setSource(target, QTextDocument::HtmlResource);
  return true;
}

QString HelpWindow::currentTopic() const {
  return browser_->source().isEmpty() ? QString() : browser_->source().path();
}

QUrl HelpWindow::topicUrl(const QString& topic) {
  QString rooted = RootedTopic(topic);
  QString fragment;
  if (const qsizetype hash = rooted.indexOf(QLatin1Char('#')); hash >= 0) {
    fragment = rooted.mid(hash + 1);
    rooted.truncate(hash);
  }
  QUrl url;
  url.setScheme(QLatin1String(kScheme));
  url.setPath(rooted);
  if (!fragment.isEmpty()) url.setFragment(fragment);
  return url;
}

void HelpWindow::fillTopicList() {
  topics_->clear();
  std::vector<QTreeWidgetItem*> parents;
  for (const trawlex::help::SitemapEntry& entry : file_->Contents()) {
    const size_t depth = std::min(static_cast<size_t>(entry.depth), parents.size());
    parents.resize(depth);
    auto* item =
        parents.empty() ? new QTreeWidgetItem(topics_) : new QTreeWidgetItem(parents.back());
    item->setText(0, QString::fromStdString(entry.name));
    if (!entry.local.empty())
      item->setData(0, Qt::UserRole, RootedTopic(QString::fromStdString(entry.local)));
    parents.push_back(item);
  }
  topics_->expandAll();
}

QString HelpWindow::homeTopic() const {
  if (!file_) return {};
  if (!file_->DefaultTopic().empty()) return QString::fromStdString(file_->DefaultTopic());
  for (const auto& entry : file_->Contents())
    if (!entry.local.empty()) return RootedTopic(QString::fromStdString(entry.local));
  return {};
}

void HelpWindow::followLink(const QUrl& link) {
  const QUrl url = browser_->source().resolved(link);
  const QString scheme = url.scheme().toLower();
  if (scheme == QLatin1String(kScheme)) {
    QString topic = url.path();
    if (url.hasFragment()) topic += QLatin1Char('#') + url.fragment();
    showTopic(topic);
  } else if (scheme == QLatin1String("ms-its") || scheme == QLatin1String("mk")) {
    // A link into a help file names it in full; only pages of the open file are shown.
    const auto parts = trawlex::help::ParseHelpPath(link.toString().toStdString());
    if (!parts.topic.empty()) showTopic(QString::fromStdString(parts.topic));
  } else if (scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
             scheme == QLatin1String("mailto")) {
    QDesktopServices::openUrl(url);
  }
}

void HelpWindow::pageChanged(const QUrl& url) {
  const QString topic = url.path();
  // The topic list follows the page shown.
  const QSignalBlocker blocker(topics_);
  topics_->clearSelection();
  for (QTreeWidgetItemIterator it(topics_); *it; ++it)
    if ((*it)->data(0, Qt::UserRole).toString().compare(topic, Qt::CaseInsensitive) == 0) {
      topics_->setCurrentItem(*it);
      break;
    }
  emit topicShown(topic);
}
