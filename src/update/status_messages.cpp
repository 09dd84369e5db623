#include "update/status_messages.h"

#include <array>
#include <cstdio>
#include <utility>

namespace trawlex::update {
namespace {

constexpr std::array<std::pair<int, std::string_view>, 44> kMessages = {{
    {909, "Download update file : "},
    {910, "Download update files ?"},
    {911, "Shutdown application to update executable files ?"},
    {912, "Equal source and target files : %s"},
    {913, "File not found : %s"},
    {914, "Zero length source file : %s"},
    {915, "Download : %s"},
    {916, "Http status : %s"},
    {917, "File not found : %s"},
    {918, "Checking for Internet connection"},
    {919, "Prompt to open new Internet connection"},
    {920, "Opening Internet connection"},
    {921, "Found open Internet connection"},
    {922, "Cannot open Internet connection"},
    {923, "Connect to host : %s"},
    {924, "Cannot connect to FTP host : %s"},
    {925, "Update control file not found"},
    {926, "Update control file found"},
    {927, "Invalid signature in update control file"},
    {928, "Date based update found"},
    {929, "New version found : %s"},
    {930, "No new version found"},
    {931, "Checksum based update found"},
    {932, "File size based update found"},
    {933, "Version based update found"},
    {934, "Found message instruction"},
    {935, "Found HTML dialog instruction"},
    {936, "Found query instruction"},
    {937, "Found whatsnew instruction"},
    {938, "Whatsnew not accepted"},
    {939, "Found license agreement instruction"},
    {940, "License agreement not accepted"},
    {941, "Found URL redirection instruction"},
    {942, "Found URL show instruction"},
    {943, "Found file update instruction"},
    {944, "Version check : %s"},
    {945, "Download update : %s"},
    {946, "Cannot download update file : %s"},
    {947, "Error decompressing CAB file : %s"},
    {948, "Finished processing update control file"},
    {949, "Closed Internet connection"},
    {950, "Failed to spawn updater process : %s"},
    {951, "Cannot connect to server for post"},
    {952, "Cannot access resource for post"},
}};

std::string Pad2(int value) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d", value);
  return text;
}

}  // namespace

std::string_view StatusMessageTemplate(int id) {
  for (const auto& [message_id, text] : kMessages) {
    if (message_id == id) return text;
  }
  return {};
}

std::string FormatStatusMessage(int id, const std::string& param) {
  std::string text(StatusMessageTemplate(id));
  const size_t at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, param);
  return text;
}

std::string FormatStatusLogLine(DateTime when, int id, const std::string& message, int statuscode,
                                int errcode) {
  using namespace std::chrono;
  const auto day_start = floor<days>(when);
  const hh_mm_ss clock{when - day_start};
  return FormatDateText(when, "dd/mm/yyyy", '/') + " " +
         Pad2(static_cast<int>(clock.hours().count())) + ":" +
         Pad2(static_cast<int>(clock.minutes().count())) + ":" +
         Pad2(static_cast<int>(clock.seconds().count())) + " : [" + std::to_string(id) + "] " +
         message + " (Status:" + std::to_string(statuscode) +
         ") (Error:" + std::to_string(errcode) + ")";
}

}  // namespace trawlex::update
