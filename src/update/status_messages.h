#pragma once

#include <string>
#include <string_view>

#include "update/control_file.h"

namespace trawlex::update {

/// The update engine's message table, ids 909 to 955; ids 953 to 955 and unknown ids are empty.
[[nodiscard]] std::string_view StatusMessageTemplate(int id);
/// The message `id` with `param` in place of its "%s".
[[nodiscard]] std::string FormatStatusMessage(int id, const std::string& param);
/// One "WUPDATE.LOG" line without its line end:
/// "dd/mm/yyyy hh:nn:ss : [id] message (Status:s) (Error:e)".
[[nodiscard]] std::string FormatStatusLogLine(DateTime when, int id, const std::string& message,
                                              int statuscode, int errcode);

inline constexpr const char* kStatusLogName = "WUPDATE.LOG";

}  // namespace trawlex::update
