// SPDX-License-Identifier: GPL-3.0-or-later
// navora-tool nmea-replay: serves a logged NMEA file over TCP or UDP at a steady rate, so
// that the application (or a test) can be fed without a device. Every line a TCP client
// sends back (what Navora writes to its output, such as the autopilot's RMB) is printed
// on standard output as a JSON line.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUdpSocket>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tools/replay_harness.h"
#include "tools/tool_command.h"

namespace {

constexpr qint64 kMaxFileBytes = 256LL * 1024 * 1024;
constexpr int kMaxLine = 200;  // what a receiving connection accepts without its line end

// Prints each complete line a client sends; a line that grows past kMaxReceived without
// an end is cut there so that a client cannot make us hold unbounded data.
constexpr int kMaxReceived = 1024;

void PrintReceived(int client, QByteArray& pending, const QByteArray& data) {
    pending += data;
    for (;;) {
        int end = pending.indexOf('\n');
        if (end < 0) {
            if (pending.size() < kMaxReceived) return;
            end = kMaxReceived;
        }
        QByteArray line = pending.left(end);
        pending.remove(0, end + (end < pending.size() && pending[end] == '\n' ? 1 : 0));
        while (line.endsWith('\r')) line.chop(1);
        if (line.trimmed().isEmpty()) continue;
        CEventLine json;
        json.Add("event", "received").Add("client", client).Add("line", line.toStdString());
        const std::string text = json.Finish();
        std::fprintf(stdout, "%s\n", text.c_str());
        std::fflush(stdout);
    }
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "navora-tool nmea-replay: %s\n", message.c_str());
    return 1;
}

// The sentences of a log: blank lines and "#" comments are skipped; line ends are
// normalised to CR LF on the way out.
bool LoadLog(const QString& path, std::vector<QByteArray>& lines, std::string& error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = "cannot open " + path.toStdString() + ": " + file.errorString().toStdString();
        return false;
    }
    if (file.size() > kMaxFileBytes) {
        error = path.toStdString() + " is larger than 256 MB";
        return false;
    }
    int skippedLong = 0;
    for (QByteArray line : file.readAll().split('\n')) {
        while (line.endsWith('\r')) line.chop(1);
        const QByteArray trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith('#')) continue;
        if (line.size() >= kMaxLine) ++skippedLong;
        lines.push_back(line + "\r\n");
    }
    if (skippedLong > 0)
        std::fprintf(stderr, "navora-tool nmea-replay: warning: %d lines are too long to be accepted\n", skippedLong);
    if (lines.empty()) {
        error = path.toStdString() + " holds no sentences";
        return false;
    }
    return true;
}

int Replay(const QStringList& argv) {
    ToolArgs args(argv);
    bool haveTcp = false, haveUdp = false, haveRate = false, haveBind = false;
    const QString tcpPort = args.TakeOption(QStringLiteral("--tcp-listen"), &haveTcp);
    const QString udpTarget = args.TakeOption(QStringLiteral("--udp"), &haveUdp);
    const QString rateText = args.TakeOption(QStringLiteral("--rate"), &haveRate);
    const QString bindText = args.TakeOption(QStringLiteral("--bind"), &haveBind);
    const bool once = args.TakeFlag(QStringLiteral("--once"));
    if (args.HasError()) return Fail(args.Error().toStdString());
    if (args.Rest().size() != 1) return Fail("expected one FILE");
    if (haveTcp == haveUdp) return Fail("give exactly one of --tcp-listen PORT and --udp HOST:PORT");

    double rate = 10;
    if (haveRate && (!ParseDouble(rateText, rate) || !(rate > 0) || rate > 100000))
        return Fail("--rate must be a number of sentences per second between 0 and 100000");

    std::vector<QByteArray> lines;
    std::string error;
    if (!LoadLog(args.Rest()[0], lines, error)) return Fail(error);

    size_t next = 0;     // index of the next line
    long long sent = 0;  // sentences sent so far
    QElapsedTimer clock;
    QTimer tick;
    QTcpServer server;
    std::vector<QPointer<QTcpSocket>> clients;
    int clientCount = 0;
    QUdpSocket udp;
    QHostAddress udpHost;
    int port = 0;
    if (haveTcp) {
        if (!ParseInt(tcpPort, port) || port < 0 || port > 65535) return Fail("bad port " + tcpPort.toStdString());
        QHostAddress bind(QHostAddress::LocalHost);
        if (haveBind && !bind.setAddress(bindText)) return Fail("bad address " + bindText.toStdString());
        if (!server.listen(bind, static_cast<quint16>(port)))
            return Fail("cannot listen on port " + tcpPort.toStdString() + ": " + server.errorString().toStdString());
        std::fprintf(stderr, "serving %zu sentences on %s:%d\n", lines.size(), bind.toString().toUtf8().constData(),
                     server.serverPort());
        QObject::connect(&server, &QTcpServer::newConnection, [&]() {
            while (QTcpSocket* c = server.nextPendingConnection()) {
                QObject::connect(c, &QTcpSocket::disconnected, c, &QObject::deleteLater);
                const int number = ++clientCount;
                auto pending = std::make_shared<QByteArray>();
                QObject::connect(c, &QTcpSocket::readyRead, c,
                                 [c, number, pending]() { PrintReceived(number, *pending, c->readAll()); });
                clients.emplace_back(c);
            }
            // The replay starts with the first client, so a pass is never played to nobody.
            if (!tick.isActive() && sent == 0) {
                clock.start();
                tick.start();
            }
        });
    } else {
        const int colon = udpTarget.lastIndexOf(QLatin1Char(':'));
        if (colon <= 0 || !udpHost.setAddress(udpTarget.left(colon)) || !ParseInt(udpTarget.mid(colon + 1), port) ||
            port <= 0 || port > 65535)
            return Fail("--udp needs HOST:PORT with a numeric address, e.g. 127.0.0.1:2000");
    }
    std::fflush(stderr);

    tick.setInterval(10);
    QObject::connect(&tick, &QTimer::timeout, [&]() {
        const long long due = static_cast<long long>(clock.elapsed() * rate / 1000.0) + 1;
        while (sent < due) {
            const QByteArray& line = lines[next];
            if (haveTcp) {
                for (auto& c : clients)
                    if (c && c->state() == QAbstractSocket::ConnectedState) c->write(line);
            } else {
                udp.writeDatagram(line, udpHost, static_cast<quint16>(port));
            }
            ++sent;
            if (++next == lines.size()) {
                next = 0;
                if (once) {
                    tick.stop();
                    for (auto& c : clients)
                        if (c) c->disconnectFromHost();
                    // Give the last writes time to leave before the sockets go.
                    QTimer::singleShot(200, []() { QCoreApplication::exit(0); });
                    return;
                }
            }
        }
    });
    if (!haveTcp) {
        clock.start();
        tick.start();
    }
    return QCoreApplication::exec();
}

const ToolCommandRegistry::Registrar kReplay({
    "nmea-replay",
    "FILE (--tcp-listen PORT [--bind ADDRESS] | --udp HOST:PORT) [--rate N] [--once]",
    "serve an NMEA log at N sentences per second (default 10; TCP starts with the first client), looping unless "
    "--once; lines clients send back are printed as JSON",
    Replay,
    false,
});

}  // namespace
