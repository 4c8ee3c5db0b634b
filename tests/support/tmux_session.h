// A tmux server of our own for tests of a program on a terminal: a detached
// session "play" of fixed size whose screen is read as text; the server is
// killed with everything in it when the object goes.
#pragma once

#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace qvb::test {

inline bool haveTmux() { return std::system("tmux -V >/dev/null 2>&1") == 0; }

class Tmux {
 public:
  // A socket of its own for each object: a server told to quit may still
  // hold its socket while the next test starts one.
  explicit Tmux(const std::string& name = "qvbplay-test")
      : socket_(name + "-" + std::to_string(::getpid()) + "-" + std::to_string(next_++)) {}
  ~Tmux() { run("kill-server"); }
  int run(const std::string& args) const {
    return std::system(("tmux -L " + socket_ + " " + args + " >/dev/null 2>&1").c_str());
  }
  std::string screen() const {
    std::string text;
    std::FILE* pipe = ::popen(("tmux -L " + socket_ + " capture-pane -p -t play 2>/dev/null").c_str(), "r");
    if (pipe == nullptr) return text;
    std::array<char, 4096> chunk{};
    while (std::fgets(chunk.data(), chunk.size(), pipe) != nullptr) text += chunk.data();
    ::pclose(pipe);
    return text;
  }
  // Polls the screen until it shows the text, for at most twenty seconds.
  bool waitFor(const std::string& text) const {
    return waitUntil([&](const std::string& s) { return s.find(text) != std::string::npos; });
  }
  template <typename Test>
  bool waitUntil(Test test) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      if (test(screen())) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

 private:
  static inline int next_ = 0;
  std::string socket_;
};

}  // namespace qvb::test
