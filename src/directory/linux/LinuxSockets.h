#pragma once
#include "log/Result.h"

#include <QHostAddress>
#include <QString>

namespace fw {
class Deadline;
}

namespace fw::net {

// The sockets the Linux locator and LDAP sessions open themselves (on Windows the system's locator and
// wldap32 do their own connecting).

// A connected TCP socket to addr:port, bound to `source` when given, before the deadline; the caller closes it.
// `server` names the server in messages.
Result<int> connectTcp(const QHostAddress& addr, quint16 port, const QHostAddress& source, const Deadline& deadline,
                       const QString& server = QString());

// A connected UDP socket to addr:port, bound to `source` when given; the caller closes it.
Result<int> connectUdp(const QHostAddress& addr, quint16 port, const QHostAddress& source);

} // namespace fw::net
