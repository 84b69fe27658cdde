#include "client/startup.h"

#include <signal.h>

#include <climits>
#include <cstdlib>
#include <iostream>

#include "client/client_files.h"
#include "client/exit_signals.h"
#include "client/headless_front_end.h"
#include "client/main_window.h"
#include "client/path_file.h"
#include "client/service_notify.h"
#include "platform/code_page.h"
#include "platform/event_loop.h"
#include "platform/system_info.h"
#include "support/text.h"

namespace pellan::client {

const char* const kUsage =
    "Usage: pellan-sync [log] [--home DIR] [--codepage NAME] [--headless]\n"
    "                   [--retry-login SECONDS] [--direct-uploads]\n"
    "                   [--limit-rate RATE] [--tls require [--tls-ca FILE | --tls-pin PIN]]\n"
    "                   [--check | --once]\n"
    "       pellan-sync --version | --help\n"
    "\n"
    "Keeps a local folder and a folder of an FTP server in step, unattended:\n"
    "it logs in on its own, then runs passes over the folder for as long as\n"
    "it runs. Where a display is present (and the program was built with\n"
    "its desktop front end) it has a small window and a tray icon; status\n"
    "lines go to stdout in every case, and without a window message boxes\n"
    "become lines on stderr.\n"
    "\n"
    "Options:\n"
    "  log                    switch the logs on (as does a plnrc.log in the\n"
    "                         program folder at start, or a debugger)\n"
    "  --home DIR             the program folder (default: the folder that\n"
    "                         holds this program)\n"
    "  --codepage NAME        code page of names and texts on the FTP server:\n"
    "                         UTF-8 (default) or GBK; local file names, the\n"
    "                         path file, the logs and the status files are\n"
    "                         UTF-8 whatever it is\n"
    "  --headless             no window and no tray icon, even on a desktop\n"
    "  --retry-login SECONDS  after a failed login, try again after SECONDS\n"
    "                         (1..86400; default: wait for an operator)\n"
    "  --direct-uploads       store uploads under their final names (default: as\n"
    "                         _NAME.part, renamed to NAME once the server has all\n"
    "                         of it; leftovers are deleted at the next login)\n"
    "  --limit-rate RATE      move at most RATE bytes a second each way (k, M, G:\n"
    "                         1024, 1024², 1024³; e.g. 500k, 20M)\n"
    "  --tls MODE             FTP over TLS for the login and every data connection:\n"
    "                         require (AUTH TLS), implicit (TLS from the first\n"
    "                         byte; the path file names the port, usually 990) or\n"
    "                         off (plain FTP, the default); the certificate is\n"
    "                         checked against the system's trust store and the\n"
    "                         server's name\n"
    "  --tls-ca FILE          trust the certificates in FILE instead\n"
    "  --tls-pin sha256:HEX   accept exactly the certificate with this SHA-256\n"
    "  --check                read the path file, log in, find (or create) the\n"
    "                         remote folder and list it, say what was found and\n"
    "                         end: 0 when all of it works, else 1; nothing moves\n"
    "  --once                 log in, send what waits, fetch every reply that\n"
    "                         waits, and end: 0 when all that was tried moved,\n"
    "                         else 1 (also after a failed login); for cron\n"
    "  --version              the program's version\n"
    "  --help                 this text\n"
    "\n"
    "The path file maoph.txt in the program folder (read once, at start):\n"
    "  first non-blank line   the local folder\n"
    "  line 2                 FTP server name or address\n"
    "  line 3                 FTP port (a whole number 1..65535, else 21)\n"
    "  line 4                 FTP user name\n"
    "  line 5                 FTP password, in the clear: keep the file mode 600\n"
    "\n"
    "Files shared with the companion program, in the program folder:\n"
    "  succ.txt   the login succeeded          err.txt    it failed (the reason)\n"
    "  can.txt    a login was cancelled         redo.txt   a retry was started\n"
    "  stop.txt   the passes were stopped       clo.txt    the client closed\n"
    "  exit.txt   written by the companion: the client closes (SIGTERM and\n"
    "             SIGINT do the same without the file)\n"
    "  plnrc.cal  left by a second copy, which ends at once; the running copy\n"
    "             comes to the front and renames it plnrc.run\n"
    "The status files are removed when the client starts.\n"
    "\n"
    "Without a window, a path file that is missing, unreadable or blank, that\n"
    "names no server, a bad port or a local folder that is not there ends the\n"
    "client at once with one line on stderr and exit status 78.\n"
    "\n"
    "Logs (only while logging is on); past 1,024,000 bytes each is renamed\n"
    "NAME.1 (replacing the one before), and lines that repeat the lines\n"
    "before them are written once, then counted:\n"
    "  plnrc.log  run log     plnrc.err  error log     plnrc.msg  server messages\n"
    "The FTP engine keeps its own log in\n"
    "${XDG_STATE_HOME:-$HOME/.local/state}/tolvarftp/TolvarFtp.Log.\n";

std::optional<ClientOptions> ParseClientOptions(const std::vector<std::string>& args, std::string* error) {
  ClientOptions o;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](const char* name) -> const std::string* {
      if (i + 1 >= args.size()) {
        *error = std::string(name) + " needs a value";
        return nullptr;
      }
      return &args[++i];
    };
    if (a == "log") {
      o.log = true;
    } else if (a == "--headless") {
      o.headless = true;
    } else if (a == "--direct-uploads") {
      o.directUploads = true;
    } else if (a == "--limit-rate") {
      const std::string* v = value("--limit-rate");
      if (!v) return std::nullopt;
      if ((o.rateLimit = ParseRate(*v)) <= 0) {
        *error = "--limit-rate needs a rate such as 500k or 20M (bytes a second), not '" + *v + "'";
        return std::nullopt;
      }
    } else if (a == "--tls") {
      const std::string* v = value("--tls");
      if (!v) return std::nullopt;
      if ((o.tls = FtpSession::TlsModeNamed(*v)) < 0) {
        *error = "--tls takes require, implicit or off, not '" + *v + "'";
        return std::nullopt;
      }
    } else if (a == "--tls-ca" || a == "--tls-pin") {
      const std::string* v = value(a.c_str());
      if (!v) return std::nullopt;
      (a == "--tls-ca" ? o.tlsCa : o.tlsPin) = *v;
    } else if (a == "--check") {
      o.check = o.headless = true;
    } else if (a == "--once") {
      o.once = o.headless = true;
    } else if (a == "--version") {
      o.version = true;
    } else if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--home") {
      const std::string* v = value("--home");
      if (!v) return std::nullopt;
      o.home = *v;
    } else if (a == "--codepage") {
      const std::string* v = value("--codepage");
      if (!v) return std::nullopt;
      if (!ParseCodePage(*v)) {
        *error = "unknown code page '" + *v + "' (UTF-8 or GBK)";
        return std::nullopt;
      }
      o.codePage = CodePageName(*ParseCodePage(*v));
    } else if (a == "--retry-login") {
      const std::string* v = value("--retry-login");
      if (!v) return std::nullopt;
      char* end = nullptr;
      const long seconds = std::strtol(v->c_str(), &end, 10);
      if (v->empty() || *end != '\0' || seconds < 1 || seconds > 86400) {
        *error = "--retry-login needs a number of seconds from 1 to 86400";
        return std::nullopt;
      }
      o.retryLoginSeconds = static_cast<int>(seconds);
    } else {
      *error = "unknown argument '" + a + "' (see --help)";
      return std::nullopt;
    }
  }
  if (o.check && o.once) {
    *error = "--check and --once do not go together";
    return std::nullopt;
  }
  return o;
}

int RunSyncClient(int argc, char** argv, DesktopHost* desktop) {
  std::string error;
  const auto options = ParseClientOptions(std::vector<std::string>(argv + 1, argv + argc), &error);
  if (!options) {
    std::cerr << "pellan-sync: " << error << '\n';
    return 2;
  }
  if (options->help) {
    std::cout << kUsage;
    return 0;
  }
  if (options->version) {
    std::cout << "pellan-sync " << VersionText() << '\n';
    return 0;
  }
  if (!options->home.empty()) {
    char resolved[PATH_MAX];
    if (!ExistFolder(options->home) || realpath(options->home.c_str(), resolved) == nullptr) {
      std::cerr << "pellan-sync: --home " << options->home << " is not a folder\n";
      return 2;
    }
    SetProgramFolder(resolved);
  }
  // Local names, the path file, the logs and the status files stay UTF-8:
  // the code page applies only where names and texts go to and come from
  // the server (the FTP control's CodePage, from settings.codePage).
  SetProcessCodePage(CodePage::kUtf8);

  // A reader that went away (a closed pipe on stdout) must not end an
  // unattended client: its lines are simply lost.
  signal(SIGPIPE, SIG_IGN);

  if (desktop != nullptr && (options->headless || !desktop->Available())) desktop = nullptr;
  if (desktop != nullptr) desktop->Prepare(argc, argv);

  // Status lines on stdout with or without a window.
  HeadlessClientFrontEnd frontEnd;
  SetFrontEnd(&frontEnd);

  ClientSettings settings;
  settings.folder = ProgramFolder();
  settings.logArgument = options->log;
  settings.codePage = options->codePage;
  settings.retryLoginSeconds = options->retryLoginSeconds;
  settings.directUploads = options->directUploads;
  settings.once = options->once;
  settings.rateLimit = options->rateLimit;
  settings.tls = options->tls;
  settings.tlsCa = options->tlsCa;
  settings.tlsPin = options->tlsPin;
  if (options->check) return CheckConfiguration(ProgramFolder(), settings);
  ServiceNotifier notifier;  // outlives the form, which reports to it
  frmTLVFTP form(settings);
  frontEnd.Attach(form.Model());
  if (desktop != nullptr) desktop->Attach(form);
  ExitSignals signals([&form](int) { form.RequestExit(); });
  if (notifier.Enabled()) {
    form.Model().Observe([&](const std::string& what) {
      if (what == "lblState") notifier.Status(StatusMessage(form.Model().Text("lblState")));
    });
    form.EndProgram = [&notifier, end = form.EndProgram](int status) {
      notifier.Stopping();
      end(status);
    };
  }

  if (!form.Form_Load()) {
    std::cerr << "pellan-sync: another copy runs in [" << settings.folder
              << "]; it was asked to come to the front, and this one ends\n";
    return 0;
  }
  // Without a window nobody can fix the fields: a service manager should
  // see the failure, not a client waiting for ever.
  if (desktop == nullptr) {
    if (const auto problem = PathFileProblem(form.PathFile())) {
      std::cerr << "pellan-sync: " << *problem << '\n';
      return kExitConfig;
    }
  }
  if (ExistFile(form.Files().Path(kExitFile))) {
    std::cerr << "pellan-sync: [" << form.Files().Path(kExitFile)
              << "] is there at start: the client closes at once, as it asks\n";
  }
  notifier.Ready();
  for (;;) CurrentLoop().WaitOnce(std::chrono::hours(1));
}

}  // namespace pellan::client
