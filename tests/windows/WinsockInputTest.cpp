// The network input through Winsock, on loopback: a TCP sender's bytes and end, datagrams in
// order, and a stop ending the wait for a sender.
#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <gtest/gtest.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "stream/SocketReader.h"
#include "tests/support/TempDir.h"

namespace iqfeeder {
namespace {

using testing::patternBytes;

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

class WinsockInputTest : public ::testing::Test {
  protected:
    // A port nobody uses just now.
    std::uint16_t freePort(int type) {
        const SOCKET socket = ::socket(AF_INET, type, 0);
        sockaddr_in address = loopback(0);
        ::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address);
        int length = sizeof address;
        ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length);
        ::closesocket(socket);
        return ntohs(address.sin_port);
    }
    SocketReader input(const std::string& text) {
        std::string why;
        return SocketReader(*parseNetworkOperand(text, why), text, console, console);
    }

    net::Networking networking;  // for the test's own sockets
    std::ostringstream out;
    Console console{out};
    std::vector<std::uint8_t> buffer = std::vector<std::uint8_t>(32000);
    std::size_t delivered = 0;
};

TEST_F(WinsockInputTest, TcpSenderIsReadToItsEnd) {
    const std::uint16_t port = freePort(SOCK_STREAM);
    SocketReader listener = input("tcp://127.0.0.1:" + std::to_string(port) + "?listen");
    ASSERT_TRUE(listener.open()) << out.str();
    std::thread sender([port] {
        const SOCKET socket = ::socket(AF_INET, SOCK_STREAM, 0);
        const sockaddr_in to = loopback(port);
        ::connect(socket, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        const auto bytes = patternBytes(5000);
        ::send(socket, reinterpret_cast<const char*>(bytes.data()), 5000, 0);
        ::closesocket(socket);
    });
    EXPECT_EQ(listener.read(buffer.data(), buffer.size(), delivered, {}),
              SocketReader::ReadStatus::SenderEnded);
    sender.join();
    EXPECT_EQ(delivered, 5000U);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 5000, patternBytes(5000).begin()));
    listener.sayEnding();
    EXPECT_NE(out.str().find(" ended after 5000 bytes.\n"), std::string::npos) << out.str();
}

TEST_F(WinsockInputTest, DatagramsFillTheBufferInOrder) {
    const std::uint16_t port = freePort(SOCK_DGRAM);
    SocketReader receiver = input("udp://127.0.0.1:" + std::to_string(port));
    ASSERT_TRUE(receiver.open()) << out.str();
    const SOCKET socket = ::socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in to = loopback(port);
    const auto bytes = patternBytes(3000);
    for (std::size_t offset = 0; offset < 3000; offset += 1000) {
        ::sendto(socket, reinterpret_cast<const char*>(bytes.data() + offset), 1000, 0,
                 reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
    ::closesocket(socket);
    EXPECT_EQ(receiver.read(buffer.data(), 2500, delivered, {}), SocketReader::ReadStatus::Full);
    EXPECT_EQ(std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + 2500), patternBytes(2500));
}

TEST_F(WinsockInputTest, StopEndsTheWaitForASender) {
    SocketReader listener =
        input("tcp://127.0.0.1:" + std::to_string(freePort(SOCK_STREAM)) + "?listen");
    ASSERT_TRUE(listener.open()) << out.str();
    const auto start = std::chrono::steady_clock::now();
    const auto stopping = [start] {
        return std::chrono::steady_clock::now() - start > std::chrono::milliseconds(200);
    };
    EXPECT_EQ(listener.read(buffer.data(), buffer.size(), delivered, {stopping, {}}),
              SocketReader::ReadStatus::Stopped);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(700));
}

// Windows tells of a refused connection among the exceptions, not as writable, and only after
// some tries of its own (some 2 s).
TEST_F(WinsockInputTest, RefusedConnectionIsSaidAndTriedAgain) {
    SocketReader client = input("tcp://127.0.0.1:" + std::to_string(freePort(SOCK_STREAM)));
    ASSERT_TRUE(client.open());
    const auto start = std::chrono::steady_clock::now();
    const auto stopping = [start] {
        return std::chrono::steady_clock::now() - start > std::chrono::milliseconds(3500);
    };
    EXPECT_EQ(client.read(buffer.data(), buffer.size(), delivered, {stopping, {}}),
              SocketReader::ReadStatus::Stopped);
    EXPECT_NE(out.str().find(" refused, trying again every second.....\n"), std::string::npos)
        << out.str();
}

}  // namespace
}  // namespace iqfeeder
