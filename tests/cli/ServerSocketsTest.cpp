// The server's raw sockets on each platform: the connected pair the TLS configuration is tried on, and the answer
// given to a connection refused at the cap.
#include "cli/ServerSockets.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <gtest/gtest.h>

using namespace fw;

namespace {

// What reaches `reader` until the other side closes, within `ms`.
QByteArray readToEnd(QTcpSocket& reader, int ms)
{
    QByteArray got;
    QElapsedTimer t;
    t.start();
    while (reader.state() == QAbstractSocket::ConnectedState && t.elapsed() < ms) {
        reader.waitForReadyRead(100);
        got += reader.readAll();
    }
    return got + reader.readAll();
}

} // namespace

// Each socket of the pair hears what the other says, both ways; a refusal's answer reaches the other end whole,
// then the close.
TEST(ServerSockets, APairTalksBothWaysAndARefusalIsHeardThenClosed)
{
    const Result<std::pair<qintptr, qintptr>> pair = connectedSocketPair();
    ASSERT_TRUE(pair) << pair.error().description.toStdString();
    QTcpSocket first;
    ASSERT_TRUE(first.setSocketDescriptor(pair->first));
    {
        QTcpSocket second;
        ASSERT_TRUE(second.setSocketDescriptor(pair->second));
        second.write("ping");
        ASSERT_TRUE(second.waitForBytesWritten(5000));
        ASSERT_TRUE(first.bytesAvailable() >= 4 || first.waitForReadyRead(5000));
        EXPECT_EQ(first.read(4), "ping");
        first.write("pong");
        ASSERT_TRUE(first.waitForBytesWritten(5000));
        ASSERT_TRUE(second.bytesAvailable() >= 4 || second.waitForReadyRead(5000));
        EXPECT_EQ(second.read(4), "pong");
    }

    const Result<std::pair<qintptr, qintptr>> refused = connectedSocketPair();
    ASSERT_TRUE(refused) << refused.error().description.toStdString();
    QTcpSocket client;
    ASSERT_TRUE(client.setSocketDescriptor(refused->second));
    EXPECT_TRUE(refuseSocket(refused->first, "HTTP/1.1 503 Service Unavailable\r\n\r\n"));
    EXPECT_EQ(readToEnd(client, 5000), "HTTP/1.1 503 Service Unavailable\r\n\r\n");
    EXPECT_EQ(client.state(), QAbstractSocket::UnconnectedState) << "the refused side closed";
}
