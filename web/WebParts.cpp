// The web library's entry: QPluginLoader finds it by the interface's name.

#include <QHostAddress>
#include <QObject>

#include "app/WebLibrary.h"
#include "web/WebServer.h"

namespace tq {
namespace {

class HttpPageServer : public WebServer {
public:
    HttpPageServer(InstrumentCommands& commands, WebFacts facts, WebAccess& access)
        : server_(commands, std::move(facts), access) {}
    bool Listen(const QString& address, uint16_t port, QString& error) override {
        const QHostAddress host(address);
        if (host.isNull()) {
            error = QStringLiteral("%1 is not an IP address").arg(address);
            return false;
        }
        return server_.Listen(host, port, error);
    }
    QString Address() const override { return server_.Address().toString(); }
    uint16_t Port() const override { return server_.Port(); }
    bool BeyondLoopback() const override { return !server_.Address().isLoopback(); }
    QString Scheme() const override {
        return server_.Tls() ? QStringLiteral("https") : QStringLiteral("http");
    }

private:
    PageServer server_;
};

}  // namespace

class WebParts : public QObject, public WebLibrary {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID TQ_WEB_LIBRARY_IID)
    Q_INTERFACES(tq::WebLibrary)

public:
    std::unique_ptr<WebServer> Server(InstrumentCommands& commands, WebFacts facts,
                                      WebAccess& access) override {
        return std::make_unique<HttpPageServer>(commands, std::move(facts), access);
    }
};

}  // namespace tq

#include "WebParts.moc"
