#pragma once

#include <string>
#include <tuple>
#include <vector>

#include "update/test_util.h"
#include "update/web_update.h"

namespace trawlex::update::testing {

/// One `OnStatus` call.
struct Status {
  std::string text;
  int statuscode;
  int errcode;
  bool operator==(const Status&) const = default;
};

/// Records every status report of an engine.
inline std::vector<Status>* RecordStatus(TWebUpdate& engine, std::vector<Status>* into) {
  engine.OnStatus = [into](TWebUpdate&, const std::string& text, int statuscode, int errcode) {
    into->push_back({text, statuscode, errcode});
  };
  return into;
}

/// Writes a small Windows executable at `path` whose file version is `version` ("a.b.c.d").
void WriteVersionedExecutable(const std::string& path, const std::string& version);

}  // namespace trawlex::update::testing
