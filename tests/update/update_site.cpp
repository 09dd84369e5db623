#include "update/update_site.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <vector>

#include "update/szdd_writer.h"

namespace trawlex::update::testing {

void UpdateSite::Serve(TWebUpdate& engine) const {
  ApplyMainWindowValues(engine, program_.path());
  engine.URL = ControlUrl();
  engine.CertificateAuthorities = CaFile();
}

UpdateSite::UpdateSite() : tls_(root_.path(), root_.File("ca.pem")) {
  ::mkdir(root_.File("update").c_str(), 0755);
  ::mkdir(root_.File("pack").c_str(), 0755);
  ::mkdir(root_.File("pack/data").c_str(), 0755);
  ::mkdir(root_.File("pack/data/fonts").c_str(), 0755);
  WriteFile(root_.File("pack/data/readme.txt"), "Read me, version 2\n");
  WriteFile(root_.File("pack/data/fonts/glyphs.bin"), SampleContent(50000, 3));
  const std::string gcab = "cd '" + root_.File("pack") + "' && gcab -c -z '" +
                           root_.File("update/data.cab") +
                           "' data/readme.txt data/fonts/glyphs.bin";
  if (std::system(gcab.c_str()) != 0) WriteFile(root_.File("update/data.cab"), "gcab failed");
  const std::string help = "Help text, version 2. " + SampleContent(3000, 4);
  const auto packed = SzddCompress(std::vector<uint8_t>(help.begin(), help.end()), 't');
  WriteBytes(root_.File("update/help.tx_"), packed);
  WriteFile(root_.File("update/trawlex-app_NEW"), "#!/bin/sh\necho version 2\n");
  WriteFile(root_.File("update/whatsnew.txt"), "Version 2.0\r\n- Faster scans\r\n- New help\r\n");
  WriteFile(root_.File("update/eula.txt"), "Licence agreement\nUse at your own risk.\n");
  WriteFile(program_.File("trawlex-app"), "#!/bin/sh\necho version 1\n");
  ::chmod(program_.File("trawlex-app").c_str(), 0755);
  ::utimensat(AT_FDCWD, program_.File("trawlex-app").c_str(), nullptr, 0);
  WriteControlFile(DefaultControlFile());
}

std::string UpdateSite::DefaultControlFile() const {
  const std::string app = program_.path();
  return "[update]\ndate=01/06/2099\nlocalversion=" + app +
         "/trawlex-app\ndescr=Release 2.0 with faster scans\n"
         "[application]\nappupdate=1\nappname=" +
         app +
         "/trawlex-app\n"
         "appcomps=trawlex-app_NEW\n"
         "[whatsnew]\nfile=" +
         Url("/update/whatsnew.txt") +
         "\n"
         "[eula]\nfile=" +
         Url("/update/eula.txt") +
         "\n"
         "[files]\ncount=3\n"
         "[file1]\nurl=" +
         Url("/update/data.cab") +
         "\ndescr=Data files\ntargetdir={APP}\n"
         "filesize=40000\n"
         "[file2]\nurl=" +
         Url("/update/help.tx_") +
         "\ndescr=Help\ntargetdir={APP}\\help\n"
         "compressed=1\nfilesize=2000\n"
         "[file3]\nurl=" +
         Url("/update/trawlex-app_NEW") +
         "\ndescr=Program\ntargetdir={APP}\n"
         "filesize=30\nsha256=" +
         Sha256Sum(root_.File("update/trawlex-app_NEW")) + "\n";
}

void UpdateSite::WriteControlFile(const std::string& text) {
  WriteFile(root_.File("update/ostreltrawlexfinder.inf"), text);
}

void UpdateSite::Publish(const std::string& path, const std::string& content) {
  WriteFile(root_.File(path), content);
}

}  // namespace trawlex::update::testing
