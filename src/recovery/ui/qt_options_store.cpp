#include "recovery/ui/qt_options_store.h"

namespace {
QString KeyPath(const std::string& key) {
  return QStringLiteral("Options/") + QString::fromStdString(key);
}
}  // namespace

QtOptionsStore::QtOptionsStore()
    : settings_(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("OstrelTrawlexRecovery"),
                QStringLiteral("Options")) {}

std::optional<std::string> QtOptionsStore::Read(const std::string& key) {
  settings_.sync();
  const QVariant value = settings_.value(KeyPath(key));
  if (!value.isValid() || settings_.status() != QSettings::NoError) return std::nullopt;
  return value.toString().toStdString();
}

bool QtOptionsStore::Write(const std::string& key, const std::string& value) {
  settings_.setValue(KeyPath(key), QString::fromStdString(value));
  settings_.sync();
  return settings_.status() == QSettings::NoError;
}
