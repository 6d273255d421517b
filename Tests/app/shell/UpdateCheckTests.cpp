// The update check of the program itself: what it finds in a feed, read
// from a file or over HTTP, ends up as one line of its log.

#include "support/WidgetTestApplication.h"
#include "app/shell/ProgramRun.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <fstream>

namespace ondexa::testing {
namespace {

std::string feed(const std::string& version, const std::string& display)
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<rss version=\"2.0\"><channel><title>Vendalum</title>"
           "<item><title>Régi</title><version>5</version><displayVersion>0.05</displayVersion></item>"
           "<item><title>Vendalum</title><version>" + version + "</version><displayVersion>" + display +
           "</displayVersion></item></channel></rss>\n";
}

// Answers every GET with the feed: the loopback stand-in of a web server.
class FeedServer : public QObject {
public:
    explicit FeedServer(std::string body) : body_(std::move(body))
    {
        server_.listen(QHostAddress::LocalHost, 0);
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    request_ += socket->readAll();
                    if (!request_.contains("\r\n\r\n")) return;
                    socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/rss+xml\r\nContent-Length: " +
                                  QByteArray::number(qsizetype(body_.size())) + "\r\nConnection: close\r\n\r\n" +
                                  QByteArray::fromStdString(body_));
                    socket->disconnectFromHost();
                });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    QString url() const { return QString("http://127.0.0.1:%1/feed.xml").arg(server_.serverPort()); }
    bool asked() const { return request_.startsWith("GET /feed.xml"); }

private:
    std::string body_;
    QTcpServer server_;
    QByteArray request_;
};

struct CheckCase {
    const char* name;
    enum Where { file, http, missing } where;
    std::string version, display;
    std::string expected;
};

class UpdateCheckTest : public ::testing::TestWithParam<CheckCase> {};

TEST_P(UpdateCheckTest, WritesWhatTheFeedSays)
{
    const CheckCase& c = GetParam();
    ProgramHome home;
    std::optional<FeedServer> server;
    QString address;
    if (c.where == CheckCase::http) {
        server.emplace(feed(c.version, c.display));
        address = server->url();
    } else {
        const auto path = home.temp.path / "feed.xml";
        if (c.where == CheckCase::file) std::ofstream(path) << feed(c.version, c.display);
        address = "file://" + QString::fromStdString(path.string());
    }
    QProcess program;
    home.start(program, {"--updatecheck"}, [&](QProcessEnvironment& env) { env.insert("VENDALUM_FEED", address); });
    EXPECT_TRUE(home.logHas(c.expected)) << home.logText();
    if (server) {
        EXPECT_TRUE(server->asked());
    }
    EXPECT_EQ(terminate(program), 0);
    // One check, one line.
    const std::string log = home.logText();
    int lines = 0;
    for (const char* head : {"Frissítés elérhető: ", "Nincs újabb verzió: ", "Frissítés-keresés hiba: "}) {
        for (auto at = log.find(head); at != std::string::npos; at = log.find(head, at + 1)) ++lines;
    }
    EXPECT_EQ(lines, 1) << log;
}

INSTANTIATE_TEST_SUITE_P(
    Feeds, UpdateCheckTest,
    ::testing::Values(CheckCase{"NewerInFile", CheckCase::file, "210", "2.1", "Frissítés elérhető: 2.1 (210)"},
                      CheckCase{"NewerOverHttp", CheckCase::http, "210", "2.1", "Frissítés elérhető: 2.1 (210)"},
                      CheckCase{"SameVersion", CheckCase::file, ONDEXA_VERSION, "0.1", "Nincs újabb verzió: "},
                      CheckCase{"MissingFeed", CheckCase::missing, "", "", "Frissítés-keresés hiba: "}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UpdateCheck, SelfTestRunChecksNothingEvenWhenAsked)
{
    ProgramHome home;
    const auto path = home.temp.path / "feed.xml";
    std::ofstream(path) << feed("210", "2.1");
    QProcess program;
    home.start(program, {"--gaptest", (home.temp.path / "nincs.mov").c_str(), "--updatecheck"},
               [&](QProcessEnvironment& env) {
                   env.insert("VENDALUM_FEED", "file://" + QString::fromStdString(path.string()));
               });
    ASSERT_TRUE(home.logHas("Önteszt indul: --gaptest")) << home.logText();
    // A check would have been asked for before the self-test began; its
    // file answers within milliseconds. Give it ample time all the same.
    pumpFor(std::chrono::seconds(2));
    EXPECT_EQ(terminate(program), 0);
    EXPECT_EQ(home.logText().find("Frissítés"), std::string::npos) << home.logText();
}

} // namespace
} // namespace ondexa::testing
