// Just enough loopback TCP for test servers, on both platforms.
#pragma once
#include <cstdint>

using TestSocket = std::intptr_t;
constexpr TestSocket kNoTestSocket = -1;

// A listener on 127.0.0.1 at a free port, which is returned in `port`.
TestSocket TestListenLoopback(int backlog, std::uint16_t& port);
// The next connection, or kNoTestSocket when none came within timeoutMs.
TestSocket TestAccept(TestSocket listener, int timeoutMs);
// A connection to 127.0.0.1:port, or kNoTestSocket.
TestSocket TestConnectLoopback(std::uint16_t port);
// Bytes read; 0 when the peer closed; -1 on error; -2 when nothing came within timeoutMs.
int TestReceive(TestSocket s, char* buffer, int size, int timeoutMs);
// True when data (or the peer's close) waits within timeoutMs.
bool TestWaitReadable(TestSocket s, int timeoutMs);
bool TestSendAll(TestSocket s, const char* data, std::size_t size);
void TestCloseSocket(TestSocket s);
