// modemsim: a fake AT modem on a pseudo-terminal (or an existing tty), for
// trying atcmd without hardware and for its end-to-end tests.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>

#include "answers.h"
#include "escapes.h"
#include "fd_guard.h"
#include "modem_line.h"
#include "script.h"
#include "session.h"

namespace {

const char kUsage[] =
    "usage: modemsim [--script FILE] [--log FILE] [--link PATH] [--no-echo] [--once]\n"
    "                [--idle-exit SECONDS] [--stale BYTES] [--tty PATH]\n"
    "Opens a pseudo-terminal, prints the path of its slave side on the first line of\n"
    "standard output, and answers AT commands written to it. Command lines end at \\r.\n"
    "  --tty PATH           serve the existing tty PATH (taken raw) instead; prints PATH\n"
    "  --script FILE        follow FILE instead of the built-in answers\n"
    "  --log FILE           record every byte received, as it comes\n"
    "  --link PATH          also make PATH a symbolic link to the slave (removed at exit)\n"
    "  --no-echo            start with echo off (as after ATE0)\n"
    "  --once               exit after the first answer, or when the script ends\n"
    "  --idle-exit SECONDS  exit after this long with nothing received or sent\n"
    "                       (default 120, 0 never); also exits when its parent does\n"
    "  --stale BYTES        put BYTES (escapes as in 'send') in the port before its\n"
    "                       path is printed: a late answer to an earlier run\n"
    "SIGTERM, SIGINT and SIGHUP end it cleanly.\n\n";

struct CommandLine {
    std::string scriptPath;
    std::string logPath;
    std::string linkPath;
    std::string stale;
    std::string ttyPath;
    SessionOptions session;
};

void OnStopSignal(int)
{
    stopRequested = 1;
}

void InstallSignals()
{
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

bool ParseSeconds(const char *text, int &seconds)
{
    char *end = nullptr;
    long value = strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || value < 0 || value > 86400)
        return false;
    seconds = static_cast<int>(value);
    return true;
}

// Returns -1 to go on, else the exit status.
int ParseCommandLine(int argc, char **argv, CommandLine &line)
{
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        bool hasValue = i + 1 < argc;
        if (option == "--help" || option == "-h") {
            printf("%s%s\n%s", kUsage, kBuiltInCommandsHelp, kScriptHelp);
            return 0;
        } else if (option == "--no-echo") {
            line.session.echo = false;
        } else if (option == "--once") {
            line.session.once = true;
        } else if (option == "--script" && hasValue) {
            line.scriptPath = argv[++i];
        } else if (option == "--log" && hasValue) {
            line.logPath = argv[++i];
        } else if (option == "--tty" && hasValue) {
            line.ttyPath = argv[++i];
        } else if (option == "--link" && hasValue) {
            line.linkPath = argv[++i];
        } else if (option == "--stale" && hasValue) {
            std::string error;
            if (!Unescape(argv[++i], line.stale, error)) {
                fprintf(stderr, "modemsim: --stale: %s\n", error.c_str());
                return 2;
            }
        } else if (option == "--idle-exit" && hasValue && ParseSeconds(argv[i + 1], line.session.idleExitSeconds)) {
            ++i;
        } else {
            fprintf(stderr, "modemsim: bad argument '%s'\n%s", argv[i], kUsage);
            return 2;
        }
    }
    return -1;
}

// Removes the --link symlink on every way out.
class LinkGuard {
public:
    ~LinkGuard()
    {
        if (!path_.empty())
            unlink(path_.c_str());
    }
    bool Make(const std::string &path, const std::string &target)
    {
        unlink(path.c_str());
        if (symlink(target.c_str(), path.c_str()) != 0)
            return false;
        path_ = path;
        return true;
    }

private:
    std::string path_;
};

int Serve(CommandLine &line)
{
    std::string error;
    if (!line.scriptPath.empty()) {
        if (!LoadScript(line.scriptPath, line.session.script, error)) {
            fprintf(stderr, "modemsim: %s\n", error.c_str());
            return 2;
        }
        line.session.scripted = true;
    }
    FdGuard log;
    if (!line.logPath.empty()) {
        log.Reset(open(line.logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        if (log.get() < 0) {
            fprintf(stderr, "modemsim: %s: %s\n", line.logPath.c_str(), strerror(errno));
            return 1;
        }
        line.session.logFd = log.get();
    }
    std::unique_ptr<ModemLine> modemLine =
        line.ttyPath.empty() ? OpenPtyLine(error) : OpenTtyLine(line.ttyPath, error);
    if (!modemLine) {
        fprintf(stderr, "modemsim: %s\n", error.c_str());
        return 1;
    }
    LinkGuard link;
    if (!line.linkPath.empty() && !link.Make(line.linkPath, modemLine->PortName())) {
        fprintf(stderr, "modemsim: %s: %s\n", line.linkPath.c_str(), strerror(errno));
        return 1;
    }
    // Written before the path is known to anyone: it is in the port before
    // the program opens it.
    if (!line.stale.empty() && write(modemLine->Fd(), line.stale.data(), line.stale.size()) < 0) {
        fprintf(stderr, "modemsim: --stale: %s\n", strerror(errno));
        return 1;
    }
    printf("%s\n", modemLine->PortName().c_str());
    fflush(stdout);
    Session session(*modemLine, line.session);
    return session.Run();
}

}  // namespace

int main(int argc, char **argv)
{
    InstallSignals();
    CommandLine line;
    int status = ParseCommandLine(argc, argv, line);
    if (status >= 0)
        return status;
    return Serve(line);
}
