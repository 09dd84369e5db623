#pragma once

#include <QString>
#include <QWidget>

#include <memory>

class QAction;
class QTextBrowser;
class QTreeWidget;
class QTreeWidgetItem;
class QUrl;

namespace trawlex::help {
class ChmFile;
}

/// The program's help window: the pages of a compiled help file, with their pictures and
/// style sheets, in a text browser beside the file's topic list. Links between pages are
/// followed, links to web sites go to the desktop's browser, and Back and Forward retrace the
/// pages shown.
class HelpWindow : public QWidget {
  Q_OBJECT

 public:
  explicit HelpWindow(QWidget* parent = nullptr);
  ~HelpWindow() override;

  /// Opens the help file at `path`, unless it is the one open already. False, with the reason
  /// in `error`, when the help engine is not loaded or the file is missing or unreadable; the
  /// file open before stays open then.
  bool openFile(const QString& path, QString* error = nullptr);
  [[nodiscard]] QString filePath() const;

  /// Shows the page that context number `context` opens. When the file's map has no such
  /// number, the file's first page is shown and the result is false.
  bool showContext(int context);
  /// Shows `topic` ("/page.htm", "page.htm#part"); false when the file has no such page.
  bool showTopic(const QString& topic);
  /// The page shown ("/main.htm"), without an anchor; empty before any.
  [[nodiscard]] QString currentTopic() const;

  [[nodiscard]] QTextBrowser* browser() const { return browser_; }
  [[nodiscard]] QTreeWidget* topicList() const { return topics_; }
  [[nodiscard]] QAction* backAction() const { return back_; }
  [[nodiscard]] QAction* forwardAction() const { return forward_; }
  [[nodiscard]] QAction* homeAction() const { return home_; }

  /// The address under which a page of the open file is shown.
  [[nodiscard]] static QUrl topicUrl(const QString& topic);

 signals:
  /// A page was shown; `topic` as `currentTopic` gives it.
  void topicShown(const QString& topic);

 private:
  class Browser;

  void fillTopicList();
  void followLink(const QUrl& link);
  void pageChanged(const QUrl& url);
  [[nodiscard]] QString homeTopic() const;

  std::unique_ptr<trawlex::help::ChmFile> file_;
  QTextBrowser* browser_;
  QTreeWidget* topics_;
  QAction* back_;
  QAction* forward_;
  QAction* home_;
};
