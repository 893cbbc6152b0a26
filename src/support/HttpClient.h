#pragma once
#include "log/FwError.h"

#include <QByteArray>
#include <QUrl>

namespace fw {

// How a download reaches the internet: 0 the system's configured proxy, 1 directly.
enum class HttpAccess : int { System = 0, Direct = 1 };

// Every download is bounded: it ends after timeoutMs in all, and an answer above maxBytes is refused.
struct HttpLimits {
    int timeoutMs = 15000;
    qint64 maxBytes = 4 * 1024 * 1024;
};

struct HttpResponse {
    int status = 0; // the HTTP status, 0 when no answer came
    QByteArray body;
    FwError error; // the network library's code and text, or the bound that was hit
    bool ok() const { return !error; }
};

// Fetches one resource by HTTP(S) GET. Only http and https addresses are fetched.
class HttpClient {
public:
    virtual ~HttpClient() = default;
    virtual HttpResponse get(const QUrl& url, HttpAccess access = HttpAccess::System) = 0;
};

// QNetworkAccessManager on the calling thread. While it waits the thread's event loop runs without user input,
// so a window keeps painting but cannot start a second download. Needs a QCoreApplication.
class NetworkHttpClient final : public HttpClient {
public:
    explicit NetworkHttpClient(HttpLimits limits = {}) : m_limits(limits) {}
    HttpResponse get(const QUrl& url, HttpAccess access = HttpAccess::System) override;
    const HttpLimits& limits() const { return m_limits; }

    // Error numbers of the two bounds (the network library's own timeout code, and one for oversize answers).
    static constexpr int kTimeoutError = 4;
    static constexpr int kTooLargeError = 299;

private:
    HttpLimits m_limits;
};

} // namespace fw
