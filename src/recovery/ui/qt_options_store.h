#pragma once

#include "recovery/ini_options_store.h"

/// The options in the user's configuration folder: Options.ini with an [Options] section,
/// where QSettings would keep it ($XDG_CONFIG_HOME/OstrelTrawlexRecovery/Options.ini).
class QtOptionsStore final : public IniOptionsStore {
 public:
  QtOptionsStore();
};
