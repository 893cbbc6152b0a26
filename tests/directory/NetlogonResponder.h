#pragma once
#include <QByteArray>
#include <QHostAddress>
#include <QString>

#include <atomic>
#include <thread>

namespace fw::test {

// A domain controller's LDAP port on a loopback address, as far as the locator and the binds see it:
// netlogon pings over UDP, and over TCP the netlogon search and the rootDSE read. Each side can answer,
// answer late, answer garbage, stay silent (TCP: accept and never answer), be absent (refused) or answer with
// a message that declares 4 GiB (oversized).
// With `dns`, it is also the DNS server of its domain: the DC SRV records name it (by its address).
class NetlogonResponder {
public:
    enum class Mode { Answer, Late, Garbage, Silent, Refuse, Oversized };

    struct Config {
        QHostAddress address{QStringLiteral("127.0.0.41")};
        quint16 port = 0; // 0: any free port (see port())
        Mode udp = Mode::Answer;
        Mode tcp = Mode::Answer;
        int lateMs = 4900;    // how late a Late side answers
        bool writable = true; // the netlogon reply's writable flag
        QString site = QStringLiteral("Default-First-Site-Name");
        bool dns = false; // answer DNS queries on UDP port dnsPort()
    };

    explicit NetlogonResponder(Config config);
    ~NetlogonResponder();
    NetlogonResponder(const NetlogonResponder&) = delete;
    NetlogonResponder& operator=(const NetlogonResponder&) = delete;

    // False when the address and port could not be taken (see error()).
    bool ok() const { return m_ok; }
    const QString& error() const { return m_error; }
    quint16 port() const { return m_port; }
    quint16 dnsPort() const { return m_dnsPort; }
    // Requests seen, UDP and TCP.
    int udpRequests() const { return m_udpSeen; }
    int tcpRequests() const { return m_tcpSeen; }

    // The host name, domain and site the answers give.
    static QString host() { return QStringLiteral("dc1.corp.example.com"); }
    static QString domain() { return QStringLiteral("corp.example.com"); }

private:
    void serve();
    QByteArray reply(const QByteArray& request, bool datagram) const;
    QByteArray dnsReply(const QByteArray& query) const;

    Config m_config;
    bool m_ok = false;
    QString m_error;
    quint16 m_port = 0;
    int m_udp = -1;
    int m_tcp = -1;
    int m_dns = -1;
    quint16 m_dnsPort = 0;
    int m_wake[2] = {-1, -1};
    std::atomic<int> m_udpSeen{0};
    std::atomic<int> m_tcpSeen{0};
    std::thread m_thread;
};

} // namespace fw::test
