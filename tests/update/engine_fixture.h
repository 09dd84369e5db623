#pragma once

#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "update/http_test_server.h"
#include "update/test_util.h"
#include "update/web_update.h"

namespace trawlex::update::testing {

/// One `OnStatus` call.
struct Status {
  std::string text;
  int statuscode;
  int errcode;
  bool operator==(const Status&) const = default;
  friend void PrintTo(const Status& s, std::ostream* os) {
    *os << "{\"" << s.text << "\", " << s.statuscode << ", " << s.errcode << "}";
  }
};

/// Records every status report of an engine.
inline std::vector<Status>* RecordStatus(TWebUpdate& engine, std::vector<Status>* into) {
  engine.OnStatus = [into](TWebUpdate&, const std::string& text, int statuscode, int errcode) {
    into->push_back({text, statuscode, errcode});
  };
  return into;
}

/// An HTTP update engine, connected, with the test HTTP server, a target folder (`dir_`) and a
/// temporary directory (`temp_`) of its own.
class HttpEngineTest : public ::testing::Test {
 protected:
  HttpEngineTest() {
    RecordStatus(engine_, &status_);
    engine_.UpdateType = TWebUpdateType::httpUpdate;
    engine_.UpdateConnect = TWebUpdateConnect::wucConnectSilent;
    engine_.TempDirectory = temp_.path();
    EXPECT_EQ(engine_.StartConnection(), 0);
    status_.clear();
  }
  std::string Target(const std::string& name) { return dir_.File(name); }
  /// Session settings take effect when the connection is made again.
  void Reconnect() {
    engine_.StopConnection();
    ASSERT_EQ(engine_.StartConnection(), 0);
    status_.clear();
  }

  HttpTestServer server_;
  TWebUpdate engine_;
  std::vector<Status> status_;
  TempDir dir_, temp_;
};

/// The start of the report of a download that was refused, up to the reason's start `why`.
inline std::string Refusal(const std::string& url, const std::string& why) {
  return "Cannot download update file : " + url + " (" + why;
}

/// Writes a small Windows executable at `path` whose file version is `version` ("a.b.c.d").
void WriteVersionedExecutable(const std::string& path, const std::string& version);

}  // namespace trawlex::update::testing
