#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <functional>
#include <stdexcept>
#include <system_error>

#include "update/engine_fixture.h"
#include "update/http_test_server.h"
#include "update/python_test_server.h"
#include "update/szdd_writer.h"

namespace trawlex::update {
namespace {

using testing::Exists;
using ::testing::HasSubstr;
using testing::HttpTestServer;
using testing::ListDir;
using testing::ReadFile;
using ::testing::StartsWith;
using testing::Status;
using testing::TempDir;
using testing::WriteFile;

/// Transfers talk to 127.0.0.1 only, so no proxy from the environment may get in the way.
class ProxylessEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "ftp_proxy",
                             "FTP_PROXY", "all_proxy", "ALL_PROXY"}) {
      ::unsetenv(name);
    }
  }
};
const auto* const kProxyless = ::testing::AddGlobalTestEnvironment(new ProxylessEnvironment);

class LocalCopyTest : public ::testing::Test {
 protected:
  LocalCopyTest() {
    testing::RecordStatus(engine_, &status_);
    engine_.UpdateType = TWebUpdateType::fileUpdate;
    engine_.TempDirectory = temp_.path();
    ::mkdir(dir_.File("target").c_str(), 0755);
  }
  TWebUpdate engine_;
  std::vector<Status> status_;
  TempDir dir_, temp_;
};

TEST_F(LocalCopyTest, CopiesIntoTargetDirectory) {
  const std::string content = testing::SampleContent(40000, 1);
  WriteFile(dir_.File("new.bin"), content);
  std::vector<int64_t> progress;
  engine_.OnFileProgress = [&](TWebUpdate&, const std::string& name, int64_t pos, int64_t size) {
    EXPECT_EQ(name, dir_.File("new.bin"));
    EXPECT_EQ(size, 40000);
    progress.push_back(pos);
  };
  std::string downloaded;
  engine_.OnFileDownloaded = [&](TWebUpdate&, const std::string& name) { downloaded = name; };
  ASSERT_EQ(engine_.StartConnection(), 0);
  EXPECT_TRUE(engine_.DownloadFile(dir_.File("new.bin"), false, dir_.File("target") + "/"));
  EXPECT_EQ(ReadFile(dir_.File("target/new.bin")), content);
  EXPECT_EQ(progress, (std::vector<int64_t>{16384, 32768, 40000}));
  EXPECT_EQ(downloaded, dir_.File("target/new.bin"));
  EXPECT_EQ(status_, (std::vector<Status>{{"Download : " + dir_.File("new.bin"), 3, 0}}));
  EXPECT_TRUE(ListDir(temp_.path()).empty());
}

TEST_F(LocalCopyTest, BackslashPathsAndTargetWithoutSeparatorNamesTheFile) {
  WriteFile(dir_.File("new.bin"), "payload");
  std::string windows_style = dir_.File("new.bin");
  for (char& c : windows_style) c = c == '/' ? '\\' : c;
  EXPECT_TRUE(engine_.DownloadFile(windows_style, false, dir_.File("target\\renamed.bin")));
  EXPECT_EQ(ReadFile(dir_.File("target/renamed.bin")), "payload");
}

TEST_F(LocalCopyTest, CopyOntoItselfReports912) {
  WriteFile(dir_.File("same"), "keep");
  EXPECT_FALSE(engine_.DownloadFile(dir_.File("same"), false, dir_.path() + "/"));
  EXPECT_EQ(status_.back(),
            (Status{"Equal source and target files : " + dir_.File("same"), 10, 3}));
  EXPECT_EQ(ReadFile(dir_.File("same")), "keep");
  // Another spelling of the same file is caught as well.
  EXPECT_FALSE(engine_.CopyLocalFile(dir_.File("same"), dir_.path() + "/./same"));
  EXPECT_EQ(status_.back().statuscode, 10);
  EXPECT_EQ(ReadFile(dir_.File("same")), "keep");
}

TEST_F(LocalCopyTest, MissingSourceReports913) {
  WriteFile(dir_.File("target/old"), "old");
  EXPECT_FALSE(engine_.CopyLocalFile(dir_.File("missing"), dir_.File("target/old")));
  EXPECT_EQ(status_.back(), (Status{"File not found : " + dir_.File("missing"), 2, 1}));
  EXPECT_EQ(ReadFile(dir_.File("target/old")), "old");
  EXPECT_FALSE(engine_.CopyLocalFile(dir_.path(), dir_.File("target/old")));
  EXPECT_EQ(status_.back(), (Status{"Zero length source file : " + dir_.path(), 10, 2}));
}

TEST_F(LocalCopyTest, CancelLeavesTheOldTarget) {
  WriteFile(dir_.File("new.bin"), testing::SampleContent(50000, 2));
  WriteFile(dir_.File("target/new.bin"), "old");
  int asked = 0;
  engine_.OnProgressCancel = [&](TWebUpdate&, bool& cancel) { cancel = ++asked == 2; };
  int pumped = 0;
  engine_.ProcessMessages = [&] { ++pumped; };
  EXPECT_FALSE(engine_.DownloadFile(dir_.File("new.bin"), false, dir_.File("target/")));
  EXPECT_TRUE(engine_.Cancelled());
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(pumped, 2);
  EXPECT_EQ(ReadFile(dir_.File("target/new.bin")), "old");
  EXPECT_TRUE(ListDir(temp_.path()).empty());
}

TEST_F(LocalCopyTest, UnusableTempDirectoryFailsWithoutTouchingTarget) {
  WriteFile(dir_.File("new.bin"), "new");
  WriteFile(dir_.File("target/new.bin"), "old");
  engine_.TempDirectory = dir_.File("no/such/dir");
  EXPECT_FALSE(engine_.DownloadFile(dir_.File("new.bin"), false, dir_.File("target/")));
  EXPECT_EQ(ReadFile(dir_.File("target/new.bin")), "old");
}

TEST_F(LocalCopyTest, CompressedCopyIsExpanded) {
  const std::string content = testing::SampleContent(3000, 3);
  testing::WriteBytes(
      dir_.File("tool.ex_"),
      testing::SzddCompress(std::vector<uint8_t>(content.begin(), content.end()), 'e'));
  EXPECT_TRUE(engine_.DownloadFile(dir_.File("tool.ex_"), true, dir_.File("target/")));
  EXPECT_EQ(ReadFile(dir_.File("target/tool.exe")), content);
  EXPECT_FALSE(Exists(dir_.File("target/tool.ex_")));
}

class HttpDownloadTest : public testing::HttpEngineTest {};

TEST_F(HttpDownloadTest, DownloadsWithProgressAndNoCacheHeaders) {
  const std::string content = testing::SampleContent(10000, 4);
  server_.Serve("/update/file.bin", {200, content, {}, 0});
  std::vector<std::pair<int64_t, int64_t>> progress;
  engine_.OnFileProgress = [&](TWebUpdate&, const std::string& name, int64_t pos, int64_t size) {
    EXPECT_EQ(name, Target("file.bin"));
    progress.emplace_back(pos, size);
  };
  int cancel_asked = 0;
  engine_.OnProgressCancel = [&](TWebUpdate&, bool&) { ++cancel_asked; };
  std::string downloaded;
  engine_.OnFileDownloaded = [&](TWebUpdate&, const std::string& name) { downloaded = name; };

  EXPECT_TRUE(engine_.DownloadFile(server_.Url("/update/file.bin"), false, dir_.path() + "/"));
  EXPECT_EQ(ReadFile(Target("file.bin")), content);
  EXPECT_EQ(downloaded, Target("file.bin"));
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), std::make_pair(int64_t{10000}, int64_t{10000}));
  for (size_t i = 1; i < progress.size(); ++i) {
    EXPECT_LE(progress[i].first - progress[i - 1].first, 4096);
  }
  EXPECT_GE(cancel_asked, static_cast<int>(progress.size()));
  EXPECT_EQ(status_,
            (std::vector<Status>{{"Download : " + server_.Url("/update/file.bin"), 3, 0}}));
  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].headers.at("cache-control"), "no-cache");
  EXPECT_EQ(requests[0].headers.at("pragma"), "no-cache");
  EXPECT_TRUE(ListDir(temp_.path()).empty());
}

TEST_F(HttpDownloadTest, NotFoundReports916AndKeepsTheOldFile) {
  WriteFile(Target("missing.bin"), "old");
  EXPECT_FALSE(engine_.DownloadFile(server_.Url("/missing.bin"), false, dir_.path() + "/"));
  EXPECT_EQ(status_.back(), (Status{"Http status : 404", 6, 404}));
  EXPECT_EQ(ReadFile(Target("missing.bin")), "old");
  EXPECT_TRUE(ListDir(temp_.path()).empty());
}

TEST_F(HttpDownloadTest, ServerErrorWithoutBodyReports916) {
  server_.Serve("/broken", {500, "", {}, 0});
  EXPECT_FALSE(engine_.DownloadFile(server_.Url("/broken"), false, dir_.path() + "/"));
  EXPECT_EQ(status_.back(), (Status{"Http status : 500", 6, 500}));
  EXPECT_FALSE(Exists(Target("broken")));
}

TEST_F(HttpDownloadTest, EmptyAnswerReplacesNothing) {
  server_.Serve("/empty.txt", {200, "", {}, 0});
  WriteFile(Target("empty.txt"), "old");
  bool downloaded = false;
  engine_.OnFileDownloaded = [&](TWebUpdate&, const std::string&) { downloaded = true; };
  EXPECT_FALSE(engine_.DownloadFile(server_.Url("/empty.txt"), false, dir_.path() + "/"));
  EXPECT_FALSE(downloaded);
  EXPECT_EQ(ReadFile(Target("empty.txt")), "old");
  EXPECT_EQ(status_.back(), (Status{"Cannot download update file : " + server_.Url("/empty.txt") +
                                        " (no data arrived)",
                                    2, 0}));
  EXPECT_TRUE(ListDir(temp_.path()).empty());
}

TEST_F(HttpDownloadTest, NoServerReports917) {
  HttpTestServer* gone = new HttpTestServer;
  const std::string url = gone->Url("/file.bin");
  delete gone;  // nothing listens on that port any more
  EXPECT_FALSE(engine_.DownloadFile(url, false, dir_.path() + "/"));
  // libcurl's reason follows the address.
  EXPECT_THAT(status_.back().text, StartsWith("File not found : " + url + " (Failed to connect"));
  EXPECT_EQ(status_.back().errcode, 1);
}

TEST_F(HttpDownloadTest, RedirectsAreFollowed) {
  server_.Serve("/old/app.dat", {302, "", {"Location: /new/app.dat"}, 0});
  server_.Serve("/new/app.dat", {200, "moved content", {}, 0});
  EXPECT_TRUE(engine_.DownloadFile(server_.Url("/old/app.dat"), false, dir_.path() + "/"));
  EXPECT_EQ(ReadFile(Target("app.dat")), "moved content");
}

TEST_F(HttpDownloadTest, CancelAfterABlockKeepsTheOldFile) {
  const std::string content = testing::SampleContent(64 * 1024, 5);
  server_.Serve("/big.bin", {200, content, {}, 8192});  // the rest waits for Release()
  WriteFile(Target("big.bin"), "old");
  int blocks = 0;
  engine_.OnFileProgress = [&](TWebUpdate&, const std::string&, int64_t, int64_t) { ++blocks; };
  engine_.OnProgressCancel = [&](TWebUpdate&, bool& cancel) { cancel = blocks >= 1; };
  EXPECT_FALSE(engine_.DownloadFile(server_.Url("/big.bin"), false, dir_.path() + "/"));
  server_.Release();
  EXPECT_TRUE(engine_.Cancelled());
  EXPECT_EQ(blocks, 1);  // seen within one block
  EXPECT_EQ(ReadFile(Target("big.bin")), "old");
  EXPECT_TRUE(ListDir(temp_.path()).empty());
}

TEST_F(HttpDownloadTest, StalledServerStillPumpsAndCanBeCancelled) {
  server_.Serve("/stall.bin", {200, std::string(20000, 'x'), {}, 100});
  int pumped = 0;
  engine_.ProcessMessages = [&] { ++pumped; };
  engine_.OnProgressCancel = [&](TWebUpdate&, bool& cancel) { cancel = pumped >= 5; };
  EXPECT_FALSE(engine_.DownloadFile(server_.Url("/stall.bin"), false, dir_.path() + "/"));
  server_.Release();
  EXPECT_TRUE(engine_.Cancelled());
  EXPECT_GE(pumped, 5);
  EXPECT_FALSE(Exists(Target("stall.bin")));
}

TEST_F(HttpDownloadTest, ProxyCredentialsGoToTheProxyAlone) {
  engine_.ProxyUserID = "alice";
  engine_.ProxyPassword = "wonder";
  Reconnect();
  server_.Serve("/secure.txt", {200, "ok", {}, 0});
  std::string url = server_.Url("/secure.txt");
  url.replace(0, 4, "HTTP");
  EXPECT_TRUE(engine_.DownloadFile(url, false, dir_.path() + "/"));  // no proxy: no login sent
  engine_.Proxy = "127.0.0.1:" + std::to_string(server_.port());
  Reconnect();
  server_.Serve("/via-proxy.txt", {200, "proxied", {}, 0});
  EXPECT_TRUE(
      engine_.DownloadFile("http://updates.invalid/via-proxy.txt", false, dir_.path() + "/"));
  EXPECT_EQ(ReadFile(Target("via-proxy.txt")), "proxied");
  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].headers.count("authorization"), 0u);
  EXPECT_EQ(requests[0].headers.count("proxy-authorization"), 0u);
  EXPECT_EQ(requests[1].target, "http://updates.invalid/via-proxy.txt");
  EXPECT_EQ(requests[1].headers.count("authorization"), 0u);
  EXPECT_EQ(requests[1].headers.at("proxy-authorization"), "Basic YWxpY2U6d29uZGVy");
}

TEST_F(HttpDownloadTest, CompressedDownloadExpandsToRecordedName) {
  const std::string content = testing::SampleContent(5000, 6);
  const auto packed =
      testing::SzddCompress(std::vector<uint8_t>(content.begin(), content.end()), 'l');
  server_.Serve("/helper.dl_", {200, std::string(packed.begin(), packed.end()), {}, 0});
  EXPECT_TRUE(engine_.DownloadFile(server_.Url("/helper.dl_"), true, dir_.path() + "/"));
  EXPECT_EQ(ReadFile(Target("helper.dll")), content);
  EXPECT_FALSE(Exists(Target("helper.dl_")));
}

TEST_F(HttpDownloadTest, HttpsWithoutATlsServerFails) {
  // A plain-HTTP server cannot answer a TLS hello; nothing is written.
  const std::string url = "https://127.0.0.1:" + std::to_string(server_.port()) + "/x.bin";
  EXPECT_FALSE(engine_.DownloadFile(url, false, dir_.path() + "/"));
  EXPECT_EQ(status_.back().statuscode, 2);
  EXPECT_FALSE(Exists(Target("x.bin")));
}

TEST_F(HttpDownloadTest, TempFileThatCannotBeCreatedRaises) {
  server_.Serve("/file.bin", {200, "content", {}, 0});
  WriteFile(Target("file.bin"), "old");
  engine_.TempDirectory = dir_.File("no/such/dir");
  EXPECT_THROW(engine_.DownloadFile(server_.Url("/file.bin"), false, dir_.path() + "/"),
               std::system_error);
  EXPECT_EQ(ReadFile(Target("file.bin")), "old");
}

TEST_F(HttpDownloadTest, HandlerExceptionPassesThroughAndLeavesNothing) {
  server_.Serve("/file.bin", {200, testing::SampleContent(20000, 8), {}, 0});
  WriteFile(Target("file.bin"), "old");
  engine_.OnFileProgress = [](TWebUpdate&, const std::string&, int64_t, int64_t) {
    throw std::runtime_error("host failed");
  };
  EXPECT_THROW(engine_.DownloadFile(server_.Url("/file.bin"), false, dir_.path() + "/"),
               std::runtime_error);
  EXPECT_EQ(ReadFile(Target("file.bin")), "old");
  EXPECT_TRUE(ListDir(temp_.path()).empty());
}

/// Calls `operation` from the engine's message hook once, during a held download.
class ReentrancyTest : public HttpDownloadTest {
 protected:
  bool DownloadWhileHookRuns(const std::function<void()>& operation) {
    server_.Serve("/held.bin", {200, testing::SampleContent(20000, 9), {}, 4096});
    WriteFile(Target("held.bin"), "old");
    bool called = false;
    engine_.ProcessMessages = [&] {
      if (called) return server_.Release();
      called = true;
      EXPECT_TRUE(engine_.Busy());
      operation();
    };
    return engine_.DownloadFile(server_.Url("/held.bin"), false, dir_.path() + "/");
  }
};

TEST_F(ReentrancyTest, StopFromTheHookIsCarriedOutWhenTheTransferHasUnwound) {
  std::vector<Status> during;
  EXPECT_FALSE(DownloadWhileHookRuns([&] {
    EXPECT_EQ(engine_.StopConnection(), 0);
    EXPECT_TRUE(engine_.Connected());  // the session is still in use
    during = status_;
  }));
  server_.Release();
  EXPECT_TRUE(engine_.Cancelled());
  EXPECT_FALSE(engine_.Connected());
  EXPECT_FALSE(engine_.Busy());
  EXPECT_EQ(during.size(), 1u);  // only "Download : ..." so far
  EXPECT_EQ(status_.back(), (Status{"Closed Internet connection", 3, 0}));
  EXPECT_EQ(ReadFile(Target("held.bin")), "old");
  EXPECT_TRUE(ListDir(temp_.path()).empty());
  EXPECT_EQ(engine_.StartConnection(), 0);  // and the engine can start again
}

TEST_F(ReentrancyTest, OperationsThatStartATransferAreRefusedFromTheHook) {
  const std::vector<std::pair<std::string, std::function<void()>>> operations = {
      {"StartConnection", [&] { engine_.StartConnection(); }},
      {"FTPConnect", [&] { engine_.FTPConnect(); }},
      {"DownloadFile", [&] { engine_.DownloadFile(server_.Url("/x"), false, dir_.path() + "/"); }},
      {"CopyLocalFile", [&] { engine_.CopyLocalFile(Target("held.bin"), Target("copy")); }},
  };
  for (const auto& [name, operation] : operations) {
    std::string refusal;
    EXPECT_TRUE(DownloadWhileHookRuns([&] {
      try {
        operation();
      } catch (const std::logic_error& e) {
        refusal = e.what();
      }
    })) << name;
    EXPECT_THAT(refusal, StartsWith(name + " cannot run while a transfer is running"));
    EXPECT_EQ(ReadFile(Target("held.bin")), testing::SampleContent(20000, 9)) << name;
  }
}

/// HTTPS against a server whose certificate comes from a test certificate authority.
class HttpsDownloadTest : public HttpDownloadTest {
 protected:
  HttpsDownloadTest() : tls_(root_.path(), root_.File("ca.pem")) {
    WriteFile(root_.File("app.bin"), "new program");
    WriteFile(Target("app.bin"), "old");
  }
  void SetUp() override {
    ASSERT_TRUE(tls_.running()) << tls_.error();
    engine_.CertificateAuthorities = root_.File("ca.pem");
    engine_.URL = tls_.Url("/update/trawlex.inf");
    ASSERT_TRUE(engine_.HttpsOnly());
    Reconnect();  // with the authority
  }
  TempDir root_;
  testing::TlsTestServer tls_;
};

TEST_F(HttpsDownloadTest, UntrustedCertificateIsRefusedWithTheReason) {
  engine_.CertificateAuthorities.clear();  // the system's authorities do not know it
  Reconnect();
  EXPECT_FALSE(engine_.DownloadFile(tls_.Url("/app.bin"), false, dir_.path() + "/"));
  EXPECT_THAT(status_.back().text, StartsWith("File not found : " + tls_.Url("/app.bin") + " ("));
  EXPECT_THAT(status_.back().text, HasSubstr("certificate"));
  EXPECT_EQ(ReadFile(Target("app.bin")), "old");
  EXPECT_TRUE(ListDir(temp_.path()).empty());
}

TEST_F(HttpsDownloadTest, NothingPlainAfterAnHttpsControlFile) {
  server_.Serve("/app.bin", {200, "plain program", {}, 0});
  WriteFile(root_.File("moved.bin.location"), server_.Url("/app.bin"));
  const std::vector<std::pair<std::string, std::string>> cases = {
      {tls_.Url("/moved.bin"), "File not found : " + tls_.Url("/moved.bin") + " (redirected to " +
                                   server_.Url("/app.bin") + ", which is not https)"},
      {server_.Url("/app.bin"), "Cannot download update file : " + server_.Url("/app.bin") +
                                    " (only https is accepted when the control file comes over "
                                    "https)"},
  };
  for (const auto& [url, report] : cases) {
    EXPECT_FALSE(engine_.DownloadFile(url, false, dir_.path() + "/")) << url;
    EXPECT_EQ(status_.back().text, report);
  }
  EXPECT_TRUE(server_.Requests().empty());
  EXPECT_EQ(ReadFile(Target("app.bin")), "old");
  EXPECT_FALSE(Exists(Target("moved.bin")));
  // An https download that is not the update's own may still not drop to http.
  engine_.URL = server_.Url("/update/trawlex.inf");
  EXPECT_FALSE(engine_.DownloadFile(tls_.Url("/moved.bin"), false, dir_.path() + "/"));
  EXPECT_TRUE(server_.Requests().empty());
  // With the test authority trusted, https itself works.
  EXPECT_TRUE(engine_.DownloadFile(tls_.Url("/app.bin"), false, dir_.path() + "/"));
  EXPECT_EQ(ReadFile(Target("app.bin")), "new program");
}

class FtpDownloadTest : public ::testing::Test {
 protected:
  FtpDownloadTest() : server_(root_.path(), "updater", "pa55") {
    testing::RecordStatus(engine_, &status_);
    engine_.UpdateType = TWebUpdateType::ftpUpdate;
    engine_.UpdateConnect = TWebUpdateConnect::wucConnectSilent;
    engine_.TempDirectory = temp_.path();
    engine_.Host = "127.0.0.1";
    engine_.Port = server_.port();
    ::mkdir((root_.path() + "/pub").c_str(), 0755);
    content_ = testing::SampleContent(9000, 7);
    WriteFile(root_.path() + "/pub/trawlex.bin", content_);
    WriteFile(root_.path() + "/top.txt", "top level");
  }
  void SetUp() override { ASSERT_TRUE(server_.running()) << server_.error(); }

  TempDir root_, dir_, temp_;
  testing::FtpTestServer server_;
  TWebUpdate engine_;
  std::vector<Status> status_;
  std::string content_;
};

TEST_F(FtpDownloadTest, PassiveDownloadByNameFromDirectory) {
  engine_.FTPPassive = true;
  engine_.UserID = "updater";
  engine_.Password = "pa55";
  engine_.FTPDirectory = "pub";
  ASSERT_EQ(engine_.StartConnection(), 0);
  EXPECT_EQ(engine_.FTPConnect(), 0);
  int64_t last_size = -1;
  engine_.OnFileProgress = [&](TWebUpdate&, const std::string&, int64_t, int64_t size) {
    last_size = size;
  };
  EXPECT_TRUE(engine_.DownloadFile("ftp://anything/else/trawlex.bin", false, dir_.path() + "/"));
  EXPECT_EQ(ReadFile(dir_.File("trawlex.bin")), content_);
  EXPECT_EQ(last_size, 9000);
  status_.clear();
  EXPECT_EQ(engine_.StopConnection(), 0);
  EXPECT_EQ(status_, (std::vector<Status>{{"", 3, 0},
                                          {"Closed Internet connection", 3, 0},
                                          {"Closed Internet connection", 3, 0}}));
}

TEST_F(FtpDownloadTest, ActiveAnonymousDownloadWithAbsoluteDirectory) {
  engine_.FTPPassive = false;
  engine_.FTPDirectory = "/pub";
  ASSERT_EQ(engine_.StartConnection(), 0);
  ASSERT_EQ(engine_.FTPConnect(), 0);
  EXPECT_TRUE(engine_.DownloadFile("trawlex.bin", false, dir_.path() + "/"));
  EXPECT_EQ(ReadFile(dir_.File("trawlex.bin")), content_);
}

TEST_F(FtpDownloadTest, MissingFileReports917) {
  ASSERT_EQ(engine_.StartConnection(), 0);
  ASSERT_EQ(engine_.FTPConnect(), 0);
  EXPECT_TRUE(engine_.DownloadFile("top.txt", false, dir_.path() + "/"));
  EXPECT_EQ(ReadFile(dir_.File("top.txt")), "top level");
  EXPECT_FALSE(engine_.DownloadFile("nothere.bin", false, dir_.path() + "/"));
  EXPECT_THAT(status_.back().text, StartsWith("File not found : nothere.bin ("));
  EXPECT_EQ(status_.back().errcode, 1);
  EXPECT_FALSE(Exists(dir_.File("nothere.bin")));
}

TEST_F(FtpDownloadTest, DownloadsAreCheckedAgainstTheirEntry) {
  ASSERT_EQ(engine_.StartConnection(), 0);
  ASSERT_EQ(engine_.FTPConnect(), 0);
  const std::string sha = testing::Sha256Sum(root_.path() + "/top.txt");
  WriteFile(dir_.File("top.txt"), "old");
  std::string wrong = sha;
  wrong[0] = wrong[0] == '0' ? '1' : '0';
  EXPECT_FALSE(engine_.DownloadFile("top.txt", false, dir_.path() + "/", {0, -1, wrong}));
  EXPECT_EQ(status_.back().text,
            testing::Refusal("top.txt",
                             "its SHA-256 is " + sha + ", not the " + wrong + " its entry gives)"));
  EXPECT_EQ(ReadFile(dir_.File("top.txt")), "old");
  EXPECT_TRUE(engine_.DownloadFile("top.txt", false, dir_.path() + "/", {9, -1, sha}));
  EXPECT_EQ(ReadFile(dir_.File("top.txt")), "top level");
}

TEST_F(FtpDownloadTest, WrongPasswordGivesNoConnection) {
  engine_.UserID = "updater";
  engine_.Password = "wrong";
  ASSERT_EQ(engine_.StartConnection(), 0);
  status_.clear();
  EXPECT_EQ(engine_.FTPConnect(), -1);
  EXPECT_EQ(status_, (std::vector<Status>{{"Connect to host : 127.0.0.1", 3, 3}}));
  EXPECT_FALSE(engine_.DownloadFile("top.txt", false, dir_.path() + "/"));
  EXPECT_EQ(status_.back().text, "File not found : top.txt");
}

}  // namespace
}  // namespace trawlex::update
