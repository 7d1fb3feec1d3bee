#include "tests/support/NginxServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "tests/support/ProcessTestTools.h"

extern char** environ;

namespace NginxTest {
namespace {

constexpr const char* kNginx = "/usr/sbin/nginx";

bool Accepts(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return ok;
}

std::string Config(const std::string& dir, int port, const std::string& root,
                   const std::string& locations) {
  std::ostringstream c;
  c << "daemon off;\nmaster_process off;\nworker_processes 1;\npid " << dir << "/nginx.pid;\n"
    << "error_log " << dir << "/error.log info;\nevents { worker_connections 64; }\n"
    << "http {\n  access_log " << dir << "/access.log;\n"
    << "  client_body_temp_path " << dir << "/body; proxy_temp_path " << dir << "/proxy;\n"
    << "  fastcgi_temp_path " << dir << "/fcgi; uwsgi_temp_path " << dir << "/uwsgi;\n"
    << "  scgi_temp_path " << dir << "/scgi;\n  types { video/x-matroska mkv; }\n"
    << "  server {\n    listen 127.0.0.1:" << port << ";\n    root " << root << ";\n"
    << "    keepalive_requests 10000;\n" << locations << "\n  }\n}\n";
  return c.str();
}

}  // namespace

NginxServer::NginxServer(const std::string& root, const std::string& locations)
    : m_dir(ProcessTestTools::MakeTempDir("nginx")) {
  // A port nobody listens on; nginx itself refuses a taken one, and then the next is tried.
  std::mt19937 random(static_cast<unsigned>(::getpid()) ^
                      static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
  for (int attempt = 0; attempt < 20 && !Started(); ++attempt) {
    int port = 20000 + static_cast<int>(random() % 30000);
    if (!Accepts(port)) StartOn(port, root, locations);
  }
}

NginxServer::~NginxServer() {
  if (m_pid > 0) {
    ::kill(m_pid, SIGTERM);
    ::waitpid(m_pid, nullptr, 0);
  }
  std::error_code ignored;
  if (!m_dir.empty()) std::filesystem::remove_all(m_dir, ignored);
}

bool NginxServer::StartOn(int port, const std::string& root, const std::string& locations) {
  std::string config = m_dir + "/nginx.conf";
  std::ofstream(config) << Config(m_dir, port, root, locations);
  std::string prefix = m_dir + "/";
  const char* argv[] = {kNginx, "-p", prefix.c_str(), "-c", config.c_str(), nullptr};
  pid_t pid;
  if (::posix_spawn(&pid, kNginx, nullptr, nullptr, const_cast<char**>(argv), environ) != 0) return false;
  for (int i = 0; i < 500; ++i) {  // up to 10 s on a loaded machine
    if (Accepts(port)) {
      m_pid = pid;
      m_port = port;
      return true;
    }
    int status;
    if (::waitpid(pid, &status, WNOHANG) == pid) return false;  // the port was taken meanwhile
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  return false;
}

std::string NginxServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(m_port) + path;
}

std::string NginxServer::ErrorLog() const {
  return ProcessTestTools::ReadText(m_dir + "/error.log");
}

}  // namespace NginxTest
