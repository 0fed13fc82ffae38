// NowPlaying against fake players in this process, on a dbus-daemon of its own.

#include "platform/now_playing.h"

#include <gtest/gtest.h>
#include <sys/prctl.h>

#include <QtDBus>
#include <QtTest>
#include <atomic>
#include <csignal>
#include <memory>

namespace {

using pulsaro::NowPlaying;
using Track = NowPlaying::PlayingTrack;
const QString kPrefix = QStringLiteral("org.mpris.MediaPlayer2.");
const QString kPath = QStringLiteral("/org/mpris/MediaPlayer2");
std::atomic<int> gLogged{0};

// Answers Get and GetAll from the properties it began with; never when none.
class FakePlayer : public QDBusVirtualObject {
public:
    FakePlayer(const QString& address, const QString& name, const QVariantMap& properties)
        : bus_(QDBusConnection::connectToBus(address, name)), properties_(properties) {
        bus_.registerVirtualObject(kPath, this);
        bus_.registerService(name);
    }
    ~FakePlayer() override { QDBusConnection::disconnectFromBus(bus_.name()); }
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& call, const QDBusConnection& bus) override {
        const QVariant value = properties_.value(call.arguments().value(1).toString());
        if (!properties_.isEmpty()) {
            bus.send(call.member() == "GetAll" ? call.createReply(properties_)
                     : value.isValid() ? call.createReply(QVariant::fromValue(QDBusVariant(value)))
                                       : call.createErrorReply(QDBusError::UnknownProperty, {}));
        }
        return true;
    }
    void change(const QVariantMap& changed) {
        bus_.send(QDBusMessage::createSignal(kPath, "org.freedesktop.DBus.Properties",
                                             "PropertiesChanged")
                  << kPrefix + "Player" << changed << QStringList());
    }

private:
    QDBusConnection bus_;
    const QVariantMap properties_;
};

class NowPlayingTest : public testing::Test {
protected:
    void SetUp() override {
        if (QStandardPaths::findExecutable("dbus-daemon").isEmpty()) {
            GTEST_SKIP() << "dbus-daemon is missing";
        }
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) {
            fprintf(stderr, "logged: %s\n", qPrintable(text));
            ++gLogged;
        });
        // Its home is the test's folder, where it finds no services to start.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", dir_.path());
        environment.insert("XDG_DATA_HOME", dir_.path());
        daemon_.setProcessEnvironment(environment);
        daemon_.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });  // if we crash
        daemon_.start("dbus-daemon", {"--session", "--nofork", "--print-address",
                                      "--address=unix:dir=" + dir_.path()});
        ASSERT_TRUE(daemon_.waitForReadyRead(5000));
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
        nowPlaying_ = std::make_unique<NowPlaying>(QDBusConnection::connectToBus(address_, "np"));
    }
    void TearDown() override {
        nowPlaying_.reset();
        QDBusConnection::disconnectFromBus("np");
        daemon_.close();
        EXPECT_EQ(gLogged.exchange(0), 0);
    }
    // Waits for that player to be current(); an empty track stands for none.
    Track currentOf(const QString& player) {
        static_cast<void>(QTest::qWaitFor([&] { return track().player == player; }));
        return track();
    }
    Track track() const { return nowPlaying_->current().value_or(Track{}); }
    auto player(const QString& name, const QVariant& metadata, const QString& identity = {},
                const QString& status = "Playing") {
        const QVariantMap properties{
            {"PlaybackStatus", status}, {"Metadata", metadata}, {"Identity", identity}};
        return std::make_unique<FakePlayer>(address_, kPrefix + name, properties);
    }

    QTemporaryDir dir_;
    QProcess daemon_;
    QString address_;
    std::unique_ptr<NowPlaying> nowPlaying_;
};

TEST_F(NowPlayingTest, ReadsTheMetadataOfWhatPlays) {
    QFile(dir_.filePath("a b.mp3")).open(QIODevice::WriteOnly);
    const QString url = QUrl::fromLocalFile(dir_.filePath("a b.mp3")).toString(QUrl::FullyEncoded);
    const QStringList split{"Crosby", " Stills & Nash"};
    const std::pair<QVariant, Track> cases[] = {
        {QVariantMap{{"xesam:artist", split}, {"xesam:album", "A"}, {"xesam:title", "T"}},
         {{}, "Crosby, Stills & Nash", "A", "T", {}}},
        {QVariantMap{{"xesam:artist", "Solo"}, {"xesam:title", 7}}, {{}, "Solo", {}, {}, {}}},
        {QVariantMap{{"xesam:artist", 5}, {"xesam:album", QStringList{"A"}}}, {}},
        {QString("not a map"), {}},
        {QVariantMap{{"xesam:title", QString(10000, 'x')}}, {{}, {}, {}, QString(255, 'x'), {}}},
        {QVariantMap{{"xesam:title", "\tOne\nTwo\x7f"}, {"xesam:album", QString(254, 'y') + "😀"}},
         {{}, {}, QString(254, 'y'), "One Two", {}}},
        {QVariantMap{{"xesam:url", url}}, {{}, {}, {}, {}, dir_.filePath("a b.mp3")}},
        {QVariantMap{{"xesam:url", url + ".gone"}}, {}},
        {QVariantMap{{"xesam:url", QUrl::fromLocalFile(dir_.path()).toString()}}, {}},
        {QVariantMap{{"xesam:url", QString(url).replace("file:", "http:")}}, {}},
        {QVariantMap{{"xesam:url", url + "%00"}}, {}},
    };
    int row = 0;
    for (auto [metadata, want] : cases) {
        want.player = QString::number(++row);
        SCOPED_TRACE(row);
        auto fake = player("row" + want.player, metadata, want.player);
        EXPECT_EQ(currentOf(want.player), want);
        fake.reset();
        EXPECT_EQ(currentOf({}), Track{});
    }
}

TEST_F(NowPlayingTest, FollowsPlayersComingChangingAndGoing) {
    EXPECT_FALSE(NowPlaying(QDBusConnection::connectToBus("unix:path=/none", "off")).available());
    auto mute = std::make_unique<FakePlayer>(address_, kPrefix + "mute", QVariantMap());
    auto a = player("a", QVariantMap{{"xesam:title", "a1"}}, "A", "Paused");
    nowPlaying_ = std::make_unique<NowPlaying>(QDBusConnection::connectToBus(address_, "np"));
    QSignalSpy changes(nowPlaying_.get(), &NowPlaying::changed);
    EXPECT_EQ(currentOf("A").title, "a1");
    const Track b1{kPrefix + "b.instance7", {}, {}, {}, {}};  // an empty Identity
    auto b = player("b.instance7", QVariantMap{{"title", 1}});
    EXPECT_EQ(currentOf(b1.player), b1);
    a->change({{"PlaybackStatus", "Playing"}, {"Metadata", QVariantMap{{"xesam:title", "a2"}}}});
    EXPECT_EQ(currentOf("A").title, "a2");
    b->change({{"PlaybackStatus", "Paused"}});
    b->change({{"PlaybackStatus", "Playing"}});
    EXPECT_EQ(currentOf(b1.player), b1);
    mute.reset();  // with its call unanswered
    const qsizetype before = changes.size();
    a->change({{"PlaybackStatus", "Stopped"}});
    b.reset();
    EXPECT_EQ(currentOf({}), Track{});
    EXPECT_EQ(changes.size(), before + 1);
}

}  // namespace
