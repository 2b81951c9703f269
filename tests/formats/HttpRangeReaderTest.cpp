#include "formats/CloudFile.h"
#include "formats/EptReader.h"
#include "formats/HttpRangeReader.h"
#include "formats/LasReader.h"
#include "math/Messages.h"
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
#include <stdexcept>
#include <string>
#include <thread>

namespace {

using testsupport::Nginx;
using testsupport::accepts;
using testsupport::freePort;

std::string failure(HttpRangeReader &r, uint64_t offset, size_t n)
{
    try {
        r.read(offset, n);
    } catch (const std::runtime_error &e) {
        return e.what();
    }
    return "";
}

// A server that answers every request (three at most) with the same bytes, then hangs up (or,
// `stalling`, sends nothing more until the client does): by default the head of a 206 and half
// its body.
class CuttingServer {
public:
    explicit CuttingServer(std::string answer = "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-999/5000\r\n"
                                                "Content-Length: 1000\r\n\r\n" +
                                                std::string(500, 'x'),
                           bool stalling = false)
        : port(freePort()), head(std::move(answer))
    {
        listener = socket(AF_INET, SOCK_STREAM, 0);
        const int yes = 1;
        setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener, reinterpret_cast<sockaddr *>(&a), sizeof a);
        listen(listener, 8);
        worker = std::thread([this, stalling] {
            for (int served = 0; served < 3; ++served) {
                const int c = accept(listener, nullptr, nullptr);
                if (c < 0)
                    return;
                char request[4096];
                (void)!recv(c, request, sizeof request, 0);
                (void)!send(c, head.data(), head.size(), MSG_NOSIGNAL);
                while (stalling && recv(c, request, sizeof request, 0) > 0) {
                }
                close(c);
            }
        });
    }
    ~CuttingServer()
    {
        shutdown(listener, SHUT_RDWR);
        close(listener);
        worker.join();
    }
    int port, listener;
    std::string head;
    std::thread worker;
};

} // namespace

TEST(HttpRangeReader, RangesFromARealServerAndItsFailures)
{
    Nginx server;
    ASSERT_TRUE(accepts(server.port)) << "nginx did not start (setup.sh installs nginx-light)";
    HttpRangeReader::Options fast;
    fast.backoffMs = 10;

    HttpRangeReader good(server.url("/data/node.bin"), fast);
    EXPECT_EQ(good.size(), server.bytes.size());
    EXPECT_EQ(good.read(123456, 1000), server.bytes.substr(123456, 1000));
    const std::vector<std::string> many = good.readMany({{0, 10}, {299990, 10}, {5000, 70000}, {42, 1}});
    EXPECT_EQ(many[1], server.bytes.substr(299990, 10));
    EXPECT_EQ(many[2], server.bytes.substr(5000, 70000));
    EXPECT_EQ(many[3], server.bytes.substr(42, 1));
    EXPECT_NE(failure(good, 299999, 2).find("past the end"), std::string::npos);
    EXPECT_EQ(good.readAll(), server.bytes);
    // The first bytes and the size in one request; a shorter file gives what it holds.
    std::ofstream(server.dir + "/www/data/head.bin", std::ios::binary) << server.bytes;
    HttpRangeReader head(server.url("/data/head.bin"), fast);
    EXPECT_EQ(head.readHead(375), server.bytes.substr(0, 375));
    EXPECT_EQ(head.size(), server.bytes.size());
    EXPECT_EQ(server.requests("/data/head.bin", 1), 1u);
    EXPECT_EQ(head.readHead(400000), server.bytes);
    // An empty file is one, not a range past its end; readers of one pool share connections.
    std::ofstream(server.dir + "/www/data/empty.bin").close();
    auto pool = std::make_shared<HttpRangeReader::Pool>(fast);
    HttpRangeReader empty(server.url("/data/empty.bin"), pool), again(server.url("/data/node.bin"), pool);
    EXPECT_EQ(empty.size(), 0u);
    EXPECT_EQ(empty.readAll(), "");
    EXPECT_EQ(empty.readHead(375), "");
    EXPECT_EQ(again.read(7, 3), server.bytes.substr(7, 3));

    HttpRangeReader ignoring(server.url("/norange/node.bin"), fast);
    EXPECT_NE(failure(ignoring, 1000, 10).find("ignores byte ranges"), std::string::npos);
    HttpRangeReader missing(server.url("/data/absent.bin"), fast);
    EXPECT_NE(failure(missing, 0, 10).find("HTTP 404"), std::string::npos);
    // A redirection is followed; one that leads round in circles is refused at once.
    HttpRangeReader moved(server.url("/moved/node.bin"), fast);
    EXPECT_EQ(moved.read(10, 5), server.bytes.substr(10, 5));
    HttpRangeReader looping(server.url("/loop/node.bin"), fast);
    EXPECT_NE(failure(looping, 0, 10).find("redirected more than 10 times"), std::string::npos);

    // A slow node arrives whole, only later, however long it takes: it never stalls.
    HttpRangeReader::Options impatient = fast;
    impatient.stallMs = 1000;
    impatient.attempts = 2;
    HttpRangeReader slow(server.url("/slow/node.bin"), impatient);
    EXPECT_EQ(slow.read(0, 60000), server.bytes.substr(0, 60000));
}

TEST(HttpRangeReader, AConnectionCutMidNodeIsTriedAgainThenRefused)
{
    CuttingServer cutting;
    HttpRangeReader::Options o;
    o.backoffMs = 5;
    o.attempts = 3;
    HttpRangeReader r("http://127.0.0.1:" + std::to_string(cutting.port) + "/node.bin", o);
    const std::string why = failure(r, 0, 1000);
    EXPECT_NE(why.find("(3 tries)"), std::string::npos) << why;
    EXPECT_NE(why.find("500 of 1000"), std::string::npos) << why;
    EXPECT_THROW(HttpRangeReader("ftp://127.0.0.1/node.bin"), std::runtime_error);
    // A server that takes the request and answers nothing: the transfer stalls, is tried again,
    // then refused.
    CuttingServer stalling("", true);
    o.stallMs = 1000;
    o.attempts = 2;
    HttpRangeReader stalled("http://127.0.0.1:" + std::to_string(stalling.port) + "/node.bin", o);
    const std::string stalledWhy = failure(stalled, 0, 1000);
    EXPECT_NE(stalledWhy.find("(2 tries)"), std::string::npos) << stalledWhy;
    // Other bytes than those asked for are refused, not passed off as them.
    CuttingServer shifted("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 10-19/100\r\nContent-Length: 10\r\n\r\n"
                          "0123456789");
    HttpRangeReader s("http://127.0.0.1:" + std::to_string(shifted.port) + "/node.bin", o);
    EXPECT_NE(failure(s, 0, 10).find("sent bytes 10-19 for bytes 0-9"), std::string::npos) << failure(s, 0, 10);
}

// The same COPC and EPT files of another program open through the server as from disk.
TEST(HttpRangeReader, CopcAndEptOpenThroughTheServerWithTheirFullCounts)
{
    Nginx server;
    ASSERT_TRUE(accepts(server.port));
    const std::string data = std::string(VELMORA_SOURCE_DIR) + "/tests/data/";
    std::filesystem::copy(data + "laz/1.2-with-color.copc.laz", server.dir + "/www/data/cloud.copc.laz");
    std::filesystem::copy(data + "ept/1.2-with-color", server.dir + "/www/data/ept", std::filesystem::copy_options::recursive);
    CapturingMessageSink sink;
    ScopedMessageSink scope(sink);
    const PointListData local = LasReader::read((data + "laz/1.2-with-color.copc.laz").c_str());
    const PointListData copc = LasReader::read(server.url("/data/cloud.copc.laz").c_str());
    ASSERT_EQ(copc.nPoints, 1065);
    for (int i = 0; i < 3 * copc.nPoints; ++i)
        ASSERT_EQ(copc.points[i], local.points[i]) << i;
    EXPECT_EQ(EptReader::read(server.url("/data/ept/ept.json").c_str()).nPoints, 1065);
    // An uncompressed LAS file is told from the viewer's own text lists by its first bytes.
    std::filesystem::copy(data + "laz/1.2-with-color.las", server.dir + "/www/data/cloud.las");
    EXPECT_EQ(CloudFile::read(server.url("/data/cloud.las").c_str()).nPoints, 1065);
    try {
        LasReader::read(server.url("/norange/cloud.copc.laz").c_str());
        ADD_FAILURE() << "read";
    } catch (const std::runtime_error &e) {
        EXPECT_NE(std::string(e.what()).find("ignores byte ranges"), std::string::npos) << e.what();
    }
}
