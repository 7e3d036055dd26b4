#include "platform/MessagePump.h"
#include "server/TcpSocket.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace korvane {
namespace {

// Loads wait for the server on the user-interface thread as well: the waits
// must let that thread's windows run, as the pad waits do.
TEST(TcpSocketWaits, ConnectAndReceiveLetTheCallingThreadPump) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    socklen_t length = sizeof address;
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);

    int pumped = 0;
    setMessagePumpHook([&pumped] { ++pumped; });
    TcpSocket socket;
    ASSERT_TRUE(socket.Connect("127.0.0.1", ntohs(address.sin_port), 2000)) << socket.LastErrorText();
    const int afterConnect = pumped;
    char byte = 0;
    // Accepted by the kernel, never answered: the whole wait passes.
    EXPECT_EQ(socket.ReceiveWithTimeout(&byte, 1, 50), 0);
    EXPECT_GT(pumped, afterConnect);
    setMessagePumpHook({});
    socket.Close();
    ::close(listener);
}

}  // namespace
}  // namespace korvane
