// Feeds arbitrary text to the update control file reader: the profile-file parser, every
// section's keys, the file entries with their prefix expansion, dates, versions and the
// line breaks of messages.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "update/control_file.h"
#include "update/web_update.h"
#include "version/version_words.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace trawlex::update;
  const ControlFile control =
      ControlFile::FromText(std::string(reinterpret_cast<const char*>(data), size));
  static TWebUpdate engine;
  const UpdateSection update = control.Update();
  (void)engine.ParseDateTime(update.date, update.time);
  const auto version = trawlex::version::ParseVersionText(update.newversion);
  if (version.IsVersion() && trawlex::version::ParseVersionText(
                                 trawlex::version::FormatVersionWords(version)) != version) {
    __builtin_trap();
  }
  (void)control.Application();
  const ActionSection action = control.Action();
  const std::string msg = ExpandLineBreaks(action.msg);
  if (msg.size() > action.msg.size()) __builtin_trap();
  (void)ExpandLineBreaks(action.query);
  (void)control.Custom();
  (void)control.WhatsNew();
  (void)control.Eula();
  const int count = std::clamp(control.FileCount(), 0, 64);
  for (int i = 1; i <= count; ++i) {
    const TFileDescription entry = engine.MakeFileDescription(control.File(i));
    if (!entry.TargetDir.empty() && entry.TargetDir.back() != '/') __builtin_trap();
    (void)engine.ParseDateTime(entry.NewDate, entry.NewTime);
    (void)engine.FileNameFromURL(entry.URL);
  }
  return 0;
}
