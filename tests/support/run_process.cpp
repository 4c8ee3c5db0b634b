#include "tests/support/run_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace qvb::test {

namespace {

// Wine's own start-up, which a loaded machine can stretch to seconds, is not
// counted against the program's time.
constexpr std::chrono::milliseconds kWineStartAllowance = std::chrono::seconds(5);

bool isWindowsProgram(const std::string& path) {
  return path.size() > 4 && path.compare(path.size() - 4, 4, ".exe") == 0;
}

// Text written in Windows' text mode: CR LF is one line end.
std::string plainLineEnds(const std::string& text) {
  std::string plain;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      plain += '\n';
      ++i;
    } else if (text[i] == '\n') {
      plain += "\\n";
    } else {
      plain += text[i];
    }
  }
  return plain;
}

}  // namespace

std::string program(const std::string& built) {
  const char* dir = std::getenv("QVBP_TEST_WINDOWS_BIN");
  if (dir == nullptr || *dir == '\0') return built;
  const std::size_t slash = built.find_last_of('/');
  return std::string(dir) + "/" + built.substr(slash == std::string::npos ? 0 : slash + 1) + ".exe";
}

std::string shellCommand(const std::string& program) {
  if (!isWindowsProgram(program)) return program;
  const char* wine = std::getenv("QVBP_TEST_WINE");
  return std::string(wine != nullptr && *wine != '\0' ? wine : "wine") + " " + program;
}

ProcessResult runProcess(const std::vector<std::string>& programArgs, const std::string& cwd,
                         std::chrono::milliseconds limit) {
  ProcessResult result;
  const bool windows = !programArgs.empty() && isWindowsProgram(programArgs[0]);
  std::vector<std::string> argv = programArgs;
  if (windows) {
    const char* wine = std::getenv("QVBP_TEST_WINE");
    argv.insert(argv.begin(), wine != nullptr && *wine != '\0' ? wine : "wine");
    limit += kWineStartAllowance;
  }
  int outPipe[2], errPipe[2];
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return result;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    close(outPipe[0]);
    close(errPipe[0]);
    int devNull = open("/dev/null", O_RDONLY);
    dup2(devNull, 0);
    if (chdir(cwd.c_str()) != 0) _exit(127);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());  // Wine is looked up on the PATH
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  const auto deadline = std::chrono::steady_clock::now() + limit;
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int openPipes = 2;
  while (openPipes > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      kill(pid, SIGKILL);
      result.killed = true;
      break;
    }
    if (poll(fds, 2, static_cast<int>(left.count())) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      char buffer[4096];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --openPipes;
      }
    }
  }
  int status = 0;
  waitpid(pid, &status, 0);
  for (pollfd& fd : fds)
    if (fd.fd >= 0) close(fd.fd);
  if (!result.killed && WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
  if (windows) {
    result.out = plainLineEnds(result.out);
    result.err = plainLineEnds(result.err);
  }
  return result;
}

}  // namespace qvb::test
