#include "support/LocalServer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace testsupport {

namespace {
int started = 0;
} // namespace

int freePort()
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr *>(&a), &len) != 0)
        ADD_FAILURE() << "no free port";
    close(s);
    return ntohs(a.sin_port);
}

bool accepts(int port)
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    close(s);
    return ok;
}

Nginx::Nginx()
    : dir(testing::TempDir() + "/nginx-" + std::to_string(getpid()) + "-" + std::to_string(++started)), port(freePort())
{
    std::filesystem::create_directories(dir + "/www/data");
    std::filesystem::create_directories(dir + "/logs");
    std::string body(300000, '\0');
    for (size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<char>(i * 7 + i / 256);
    std::ofstream(dir + "/www/data/node.bin", std::ios::binary) << body;
    bytes = body;
    std::ofstream(dir + "/nginx.conf")
        << "daemon off; master_process off; worker_processes 1; pid " << dir << "/nginx.pid;\n"
        << "error_log " << dir << "/logs/error.log;\n"
        << "events { worker_connections 64; }\n"
        << "http { access_log " << dir << "/logs/access.log;\n"
        << "  client_body_temp_path " << dir << "/tmp; proxy_temp_path " << dir
        << "/tmp; fastcgi_temp_path " << dir << "/tmp; uwsgi_temp_path " << dir << "/tmp; scgi_temp_path " << dir
        << "/tmp;\n"
        << "  server { listen 127.0.0.1:" << port << "; root " << dir << "/www;\n"
        << "    location /norange/ { alias " << dir << "/www/data/; max_ranges 0; }\n"
        << "    location /moved/ { rewrite ^/moved/(.*)$ /data/$1 redirect; }\n"
        << "    location /loop/ { return 302 /loop/again; }\n"
        << "    location /paced/ { alias " << dir << "/www/data/; limit_rate 1m; sendfile off; output_buffers 1 16k; }\n"
        << "    location /slow/ { alias " << dir << "/www/data/; limit_rate 20k; sendfile off; output_buffers 1 2k; }\n"
        << "  }\n}\n";
    std::filesystem::create_directories(dir + "/tmp");
    child = fork();
    if (child == 0) {
        execl("/usr/sbin/nginx", "nginx", "-p", dir.c_str(), "-c", (dir + "/nginx.conf").c_str(), nullptr);
        _exit(127);
    }
    for (int i = 0; i < 500 && !accepts(port); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

Nginx::~Nginx()
{
    if (child > 0) {
        kill(child, SIGTERM);
        waitpid(child, nullptr, 0);
    }
    std::filesystem::remove_all(dir);
}

size_t Nginx::requests(const std::string &path, size_t atLeast) const
{
    // The server logs a request once it has sent the answer: a moment after the client has it.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        std::ifstream log(dir + "/logs/access.log");
        size_t n = 0;
        for (std::string line; std::getline(log, line);)
            n += line.find("\"GET " + path + " ") != std::string::npos;
        if (n >= atLeast || std::chrono::steady_clock::now() > until)
            return n;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace testsupport
