#include "recovery/ui/qt_options_store.h"

#include <QSettings>

namespace {
std::string OptionsFile() {
  const QSettings settings(QSettings::IniFormat, QSettings::UserScope,
                           QStringLiteral("OstrelTrawlexRecovery"), QStringLiteral("Options"));
  return settings.fileName().toStdString();
}
}  // namespace

QtOptionsStore::QtOptionsStore() : IniOptionsStore(OptionsFile()) {}
