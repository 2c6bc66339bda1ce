// Starting and stopping the private cupsd of the printing tests.
#include "private_cups.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace korvex::testutil {

namespace {

namespace fs = std::filesystem;

constexpr const char* kCupsd = "/usr/sbin/cupsd";
constexpr const char* kGenericPpd = "/usr/share/ppd/cupsfilters/Generic-PDF_Printer-PDF.ppd";

// A PPD whose one filter copies the submitted PDF to the device unchanged.
constexpr const char* kPassPpd = R"PPD(*PPD-Adobe: "4.3"
*FormatVersion: "4.3"
*FileVersion: "1.0"
*LanguageVersion: English
*LanguageEncoding: ISOLatin1
*PCFileName: "KXPASS.PPD"
*Manufacturer: "Korvex"
*Product: "(Pass)"
*ModelName: "Pass"
*ShortNickName: "Pass"
*NickName: "Pass"
*cupsFilter2: "application/pdf application/vnd.x-pdf 0 gziptoany"
*OpenUI *PageSize/Page Size: PickOne
*DefaultPageSize: A4
*PageSize A4/A4: "<</PageSize[595 842]>>setpagedevice"
*CloseUI: *PageSize
*DefaultPageRegion: A4
*DefaultImageableArea: A4
*ImageableArea A4/A4: "0 0 595 842"
*DefaultPaperDimension: A4
*PaperDimension A4/A4: "595 842"
)PPD";

void write(const std::string& path, const std::string& text) {
  std::ofstream(path) << text;
}

class Server {
 public:
  Server() { start(); }
  ~Server() {
    if (s_.pid > 0) {
      ::kill(s_.pid, SIGTERM);
      int st = 0;
      ::waitpid(s_.pid, &st, 0);
    }
    if (!s_.root.empty()) {
      std::error_code ec;
      fs::remove_all(s_.root, ec);
    }
  }
  const PrivateCups& get() const { return s_; }

 private:
  void start() {
    if (::access(kCupsd, X_OK) != 0) {
      s_.why_not = "cupsd is not installed (package cups)";
      return;
    }
    std::string tmpl = (fs::temp_directory_path() / "kx-cups-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) {
      s_.why_not = "cannot create a folder for cupsd";
      return;
    }
    s_.root = tmpl;
    const std::string& r = s_.root;
    for (const char* d : {"etc", "run", "spool", "tmp", "state", "cache", "log", "out"})
      fs::create_directories(r + "/" + d);
    // Filters run as an unprivileged user: they need to reach the folders.
    ::chmod(r.c_str(), 0755);
    ::chmod((r + "/tmp").c_str(), 01777);
    ::chmod((r + "/out").c_str(), 0777);
    write(r + "/etc/cups-files.conf",
          "ServerRoot " + r + "/etc\nRequestRoot " + r + "/spool\nTempDir " + r +
              "/tmp\nStateDir " + r + "/state\nCacheDir " + r + "/cache\nAccessLog " + r +
              "/log/access_log\nErrorLog " + r + "/log/error_log\nPageLog " + r +
              "/log/page_log\nPrintcap " + r +
              "/state/printcap\nSystemGroup root\n"
              "FileDevice Yes\n");
    write(r + "/etc/cupsd.conf", "Listen " + r +
                                     "/run/cups.sock\nBrowsing No\nWebInterface No\n"
                                     "LogLevel warn\n<Policy default>\n  <Limit All>\n"
                                     "    Order deny,allow\n  </Limit>\n</Policy>\n");
    write(r + "/etc/kx-pass.ppd", kPassPpd);
    // Before the first libcups call of the process: libcups keeps the server it found.
    ::setenv("CUPS_SERVER", (r + "/run/cups.sock").c_str(), 1);
    ::setenv("KORVEX_PRINT_TIMEOUT", "20", 0);

    const pid_t pid = ::fork();
    if (pid == 0) {
      // A test process that dies without its exit handlers takes cupsd along.
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      const std::string c = r + "/etc/cupsd.conf";
      const std::string f = r + "/etc/cups-files.conf";
      ::execl(kCupsd, kCupsd, "-f", "-c", c.c_str(), "-s", f.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    if (pid < 0) {
      s_.why_not = "cannot start cupsd";
      return;
    }
    s_.pid = pid;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (::access((r + "/run/cups.sock").c_str(), F_OK) != 0 ||
           s_.tool("lpstat -r | grep -q 'is running'") != 0) {
      int st = 0;
      if (::waitpid(pid, &st, WNOHANG) == pid) {
        s_.pid = 0;
        s_.why_not = "cupsd exited at start";
        return;
      }
      if (std::chrono::steady_clock::now() > until) {
        s_.why_not = "cupsd did not answer within 10 s";
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (s_.tool("lpadmin -p kx-pass -E -v file://" + s_.pass_output() + " -P " + r +
                "/etc/kx-pass.ppd") != 0 ||
        s_.tool("lpadmin -p kx-generic -E -v file://" + s_.generic_output() + " -P " +
                kGenericPpd) != 0) {
      s_.why_not = "lpadmin could not add the test queues";
      return;
    }
    s_.running = true;
  }

  PrivateCups s_;
};

}  // namespace

int PrivateCups::tool(const std::string& args) const {
  const int st = std::system(("(" + args + ") >/dev/null 2>&1").c_str());
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

const PrivateCups& private_cups() {
  static Server server;
  return server.get();
}

}  // namespace korvex::testutil
