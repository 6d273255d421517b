// Feeds that are not feeds: too big, endless, trickling, not a file at all,
// or with a version no one would write. Each check ends, with its failure
// line, and the program stays in hand.

#include "support/WidgetTestApplication.h"
#include "app/shell/ProgramRun.h"

#include "Ondexa/app/Updates.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <fstream>
#include <sys/stat.h>

namespace ondexa::testing {
namespace {

// A feed that offers a newer version: a check that reads all of it says so.
const QByteArray feedHead = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><item><version>210</version>"
                            "<displayVersion>2.1</displayVersion></item>";
const QByteArray feedTail = "</channel></rss>\n";

// A feed padded with blanks to `size` bytes.
QByteArray paddedFeed(qsizetype size)
{
    return feedHead + QByteArray(size - feedHead.size() - feedTail.size(), ' ') + feedTail;
}

// A web server on the loopback that answers a GET in one of three bad ways.
class BadFeedServer : public QObject {
public:
    enum Kind {
        endless,   // no length, blanks without end (a safety stop at 32 MiB)
        oversize,  // a stated length of 2 MiB, and as much
        trickle,   // a small feed, one byte every 100 ms
    };

    explicit BadFeedServer(Kind kind) : kind_(kind)
    {
        server_.listen(QHostAddress::LocalHost, 0);
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    request_ += socket->readAll();
                    if (!request_.contains("\r\n\r\n") || answered_) return;
                    answered_ = true;
                    answer(socket);
                });
            }
        });
    }
    QString url() const { return QString("http://127.0.0.1:%1/feed.xml").arg(server_.serverPort()); }

private:
    void answer(QTcpSocket* socket)
    {
        const QByteArray type = "HTTP/1.1 200 OK\r\nContent-Type: application/rss+xml\r\nConnection: close\r\n";
        switch (kind_) {
        case endless: {
            socket->write(type + "\r\n" + feedHead);
            const QByteArray blanks(64 * 1024, ' ');
            auto more = [socket, blanks, sent = qint64(0)]() mutable {
                if (socket->state() != QAbstractSocket::ConnectedState) return;
                while (socket->bytesToWrite() < 4 * blanks.size() && sent < 32 * 1024 * 1024) {
                    socket->write(blanks);
                    sent += blanks.size();
                }
                if (sent >= 32 * 1024 * 1024 && socket->bytesToWrite() == 0) {
                    socket->write(feedTail);
                    socket->disconnectFromHost();
                }
            };
            connect(socket, &QTcpSocket::bytesWritten, socket, more);
            more();
            break;
        }
        case oversize: {
            const QByteArray body = paddedFeed(2 * 1024 * 1024);
            socket->write(type + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
            socket->disconnectFromHost();
            break;
        }
        case trickle: {
            const QByteArray body = paddedFeed(feedHead.size() + feedTail.size() + 20);
            socket->write(type + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n");
            auto* timer = new QTimer(socket);
            connect(timer, &QTimer::timeout, socket, [socket, body, at = qsizetype(0)]() mutable {
                if (at < body.size()) socket->write(body.mid(at++, 1));
                if (at == body.size()) socket->disconnectFromHost();
            });
            timer->start(100);
            break;
        }
        }
    }

    Kind kind_;
    QTcpServer server_;
    QByteArray request_;
    bool answered_ = false;
};

class UpdateFeedLimits : public ::testing::Test {
protected:
    // One check of `feed`, and the log line it ended with.
    std::string check(const QString& feed, std::chrono::milliseconds deadline = std::chrono::seconds(30))
    {
        Updates::Environment env;
        env.arguments = {"--updatecheck"};
        env.feedVariable = feed;
        env.deadline = deadline;
        Updates updates(std::move(env));
        QString line;
        QObject::connect(&updates, &Updates::checkFinished, [&](const QString& text) { line = text; });
        EXPECT_TRUE(pumpUntil([&] { return !line.isEmpty(); }, std::chrono::seconds(120)));
        return line.toStdString();
    }
    QString file(const std::string& name, const QByteArray& content) const
    {
        const auto path = temp.path / name;
        std::ofstream(path, std::ios::binary) << content.toStdString();
        return "file://" + QString::fromStdString(path.string());
    }

    TempFolder temp;
    ScopedEnv stateHome{"XDG_STATE_HOME", (temp.path / "state").string()};
};

TEST_F(UpdateFeedLimits, ABadFeedEndsTheCheckWithItsReason)
{
    const std::string failure = "Frissítés-keresés hiba: ";
    struct Case {
        const char* what;
        std::function<std::string()> run;
        std::string reason;
    };
    std::optional<BadFeedServer> server;
    const auto over = [&](BadFeedServer::Kind kind, std::chrono::milliseconds deadline) {
        return [&, kind, deadline] {
            server.emplace(kind);
            return check(server->url(), deadline);
        };
    };
    const Case cases[] = {
        {"endless body", over(BadFeedServer::endless, std::chrono::seconds(30)), "túl nagy"},
        {"stated length beyond the bound", over(BadFeedServer::oversize, std::chrono::seconds(30)), "túl nagy"},
        // One byte per 100 ms never trips the transfer timeout; the deadline ends it.
        {"trickle", over(BadFeedServer::trickle, std::chrono::seconds(1)), "nem érkezett meg időben"},
        {"file beyond the bound", [&] { return check(file("big.xml", paddedFeed(2 * 1024 * 1024))); },
         "túl nagy"},
        {"version of a hundred digits",
         [&] {
             return check(file("long.xml", "<rss><channel><item><version>2" + QByteArray(100, '0') +
                                               "</version></item></channel></rss>"));
         },
         "túl hosszú változatszám"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string line = c.run();
        EXPECT_EQ(line.rfind(failure, 0), 0u) << line;
        EXPECT_NE(line.find(c.reason), std::string::npos) << line;
    }
    // At the bound itself the feed is still read.
    EXPECT_EQ(check(file("full.xml", paddedFeed(Updates::largestFeed))), "Frissítés elérhető: 2.1 (210)");
}

// A pipe named as the feed would hold the main thread until a writer came:
// the program would no longer answer, not even SIGTERM.
TEST(UpdateFeedPipe, IsRefusedAndTheProgramStillEnds)
{
    ProgramHome home;
    const auto pipe = home.temp.path / "feed.xml";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    QProcess program;
    home.start(program, {"--updatecheck"}, [&](QProcessEnvironment& env) {
        env.insert("VENDALUM_FEED", "file://" + QString::fromStdString(pipe.string()));
    });
    EXPECT_TRUE(home.logHas("Frissítés-keresés hiba: A fájl nem olvasható, mert nem szabályos fájl"))
        << home.logText();
    EXPECT_EQ(terminate(program), 0);
}

} // namespace
} // namespace ondexa::testing
