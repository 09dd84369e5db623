#pragma once

#include <string>

#include "update/python_test_server.h"
#include "update/test_util.h"
#include "update/web_update.h"

namespace trawlex::update::testing {

/// An update server over HTTPS (test certificate authority) with a release of a stand-in
/// program: a control file announcing a newer release with a what's-new text and a licence,
/// and three files: a cabinet (data/readme.txt, data/fonts/glyphs.bin; made with gcab), an
/// SZDD-compressed help file (help.tx_ expanding to help.txt) and the program itself as the
/// application component "trawlex-app_NEW". `program_` is the installed program's folder.
class UpdateSite {
 public:
  UpdateSite();
  [[nodiscard]] bool running() const { return tls_.running(); }
  [[nodiscard]] std::string ControlUrl() const {
    return tls_.Url("/update/ostreltrawlexfinder.inf");
  }
  [[nodiscard]] std::string Url(const std::string& path) const { return tls_.Url(path); }
  [[nodiscard]] std::string CaFile() const { return root_.File("ca.pem"); }
  /// Replaces the control file; `extra` is appended to the default one.
  void WriteControlFile(const std::string& text);
  [[nodiscard]] std::string DefaultControlFile() const;
  /// Points `engine` at this site as the installed program's main window would: the program's
  /// folder, the control file's address and the test certificate authority.
  void Serve(TWebUpdate& engine) const;
  /// Puts a file on the server.
  void Publish(const std::string& path, const std::string& content);

  TempDir root_, program_;
  TlsTestServer tls_;
};

}  // namespace trawlex::update::testing
