// The single-instance guard between real processes: copies of the probe
// program, each run from a folder of the test's own under a file name of the
// test's choosing, with XDG_RUNTIME_DIR and TMPDIR pointed into that folder, so
// no test meets a running Pulsaro or another test.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

// The wait injected into every probe; the program's own is 10 s.
constexpr int kWaitMs = 1500;
constexpr int kLineTimeoutMs = 4 * kWaitMs;
// Time to launch the copies that must run the start-up check together.
constexpr int kBarrierMs = 300;

class Probe {
public:
    Probe(const QString& program, const QStringList& arguments,
          const QProcessEnvironment& environment) {
        process_.setProcessEnvironment(environment);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        clock_.start();
        process_.start(program, arguments);
    }

    // The next line on stdout; empty when none came in time.
    QString nextLine(int timeoutMs = kLineTimeoutMs) {
        const QDeadlineTimer deadline(timeoutMs);
        while (!process_.canReadLine()) {
            if (deadline.hasExpired()) {
                return {};
            }
            if (!process_.waitForReadyRead(static_cast<int>(deadline.remainingTime())) &&
                process_.state() == QProcess::NotRunning && !process_.canReadLine()) {
                return {};
            }
        }
        lineAtMs_ = clock_.elapsed();
        return QString::fromUtf8(process_.readLine()).chopped(1);
    }

    // Milliseconds from start to the last line read.
    qint64 lineAtMs() const { return lineAtMs_; }

    void signal(int number) { ::kill(static_cast<pid_t>(process_.processId()), number); }

    bool exitedCleanly() {
        return process_.waitForFinished(kLineTimeoutMs) &&
               process_.exitStatus() == QProcess::NormalExit && process_.exitCode() == 0;
    }

    // Ends a primary the ordinary way and returns what it still said.
    QString quit() {
        process_.closeWriteChannel();
        EXPECT_TRUE(exitedCleanly());
        return QString::fromUtf8(process_.readAllStandardOutput());
    }

    void kill() {
        if (process_.state() != QProcess::NotRunning) {
            signal(SIGCONT);
            process_.kill();
            process_.waitForFinished(kLineTimeoutMs);
        }
    }

private:
    QProcess process_;
    QElapsedTimer clock_;
    qint64 lineAtMs_ = -1;
};

QStringList handedOverArguments(const QString& line) {
    const QString prefix = QStringLiteral("received ");
    if (!line.startsWith(prefix)) {
        return {QStringLiteral("<no hand-over: %1>").arg(line)};
    }
    QStringList arguments;
    for (const auto& value : QJsonDocument::fromJson(line.mid(prefix.size()).toUtf8()).array()) {
        arguments.append(value.toString());
    }
    return arguments;
}

class SingleInstanceTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(root_.isValid());
        ASSERT_TRUE(QDir(root_.path()).mkpath(QStringLiteral("ipc")));
        ASSERT_TRUE(QDir(root_.path()).mkpath(QStringLiteral("bin")));
        ASSERT_EQ(::chmod(QFile::encodeName(ipcFolder()).constData(), 0700), 0);
        environment_ = QProcessEnvironment::systemEnvironment();
        environment_.insert(QStringLiteral("XDG_RUNTIME_DIR"), ipcFolder());
        environment_.insert(QStringLiteral("TMPDIR"), ipcFolder());
        environment_.insert(QStringLiteral("PROBE_WAIT_MS"), QString::number(kWaitMs));
    }

    void TearDown() override {
        for (const auto& probe : probes_) {
            probe->kill();
        }
        // A last copy of each program claims whatever the killed ones left and,
        // ending the ordinary way, must remove all of it but the block.
        for (const QString& program : programs_) {
            Probe last(program, {}, environment_);
            EXPECT_EQ(last.nextLine(), QStringLiteral("primary")) << program.toStdString();
            last.quit();
        }
        const QDir ipc(ipcFolder());
        for (const QFileInfo& left : ipc.entryInfoList(QDir::Files | QDir::System | QDir::Hidden)) {
            EXPECT_EQ(left.suffix(), QStringLiteral("instance"))
                << "left behind: " << left.fileName().toStdString();
        }
    }

    QString ipcFolder() const { return root_.filePath(QStringLiteral("ipc")); }

    // The probe copied under this file name.
    QString program(const QString& fileName) {
        const QString path = root_.filePath(QStringLiteral("bin/") + fileName);
        if (!programs_.contains(path)) {
            EXPECT_TRUE(QFile::copy(QStringLiteral(PULSARO_SINGLE_INSTANCE_PROBE), path));
            programs_.append(path);
        }
        return path;
    }

    Probe& launch(const QString& program, const QStringList& arguments = {}) {
        probes_.push_back(std::make_unique<Probe>(program, arguments, environment_));
        return *probes_.back();
    }

    // Copies launched from here on hold their check back until this moment.
    void startTogetherAt(qint64 msSinceEpoch) {
        environment_.insert(QStringLiteral("PROBE_START_AT"), QString::number(msSinceEpoch));
    }
    void startWithoutWaiting() { environment_.remove(QStringLiteral("PROBE_START_AT")); }

    // Launches a copy that must hand its arguments over to primary, without waiting.
    void expectHandOver(const QString& program, Probe& primary, const QStringList& arguments,
                        const QStringList& expected) {
        Probe& later = launch(program, arguments);
        EXPECT_EQ(later.nextLine(), QStringLiteral("handed-over"));
        EXPECT_LT(later.lineAtMs(), kWaitMs);
        EXPECT_TRUE(later.exitedCleanly());
        EXPECT_EQ(handedOverArguments(primary.nextLine()), expected);
    }

    QProcessEnvironment& environment() { return environment_; }

private:
    QTemporaryDir root_;
    QProcessEnvironment environment_;
    QStringList programs_;
    std::vector<std::unique_ptr<Probe>> probes_;
};

TEST_F(SingleInstanceTest, LaterCopiesHandTheirArgumentsToTheRunningOne) {
    const QString probe = program(QStringLiteral("si_probe"));
    Probe& primary = launch(probe);
    ASSERT_EQ(primary.nextLine(), QStringLiteral("primary"));

    const QChar eAcute(0x00E9);  // two bytes in UTF-8
    const QChar euro(0x20AC);    // three bytes: the 300-byte cut falls inside one
    const QStringList twelve{QStringLiteral("one"),       QString(),
                             QStringLiteral("two words"), QString(400, u'x'),
                             QString(200, eAcute),        QStringLiteral("a") + QString(150, euro),
                             QStringLiteral("7"),         QStringLiteral("8"),
                             QStringLiteral("9"),         QStringLiteral("10"),
                             QStringLiteral("11"),        QStringLiteral("12")};
    const QStringList firstTen{QStringLiteral("one"),       QString(),
                               QStringLiteral("two words"), QString(300, u'x'),
                               QString(150, eAcute),        QStringLiteral("a") + QString(99, euro),
                               QStringLiteral("7"),         QStringLiteral("8"),
                               QStringLiteral("9"),         QStringLiteral("10")};
    // One after another, so each finds the block free again.
    expectHandOver(probe, primary, twelve, firstTen);
    expectHandOver(probe, primary, {}, {});
    expectHandOver(probe, primary, {QStringLiteral("again")}, {QStringLiteral("again")});
}

TEST_F(SingleInstanceTest, CopiesUnderOtherFileNamesRunApart) {
    const QString probeA = program(QStringLiteral("si_probe_a"));
    const QString probeB = program(QStringLiteral("si_probe_b"));
    Probe& primaryA = launch(probeA);
    ASSERT_EQ(primaryA.nextLine(), QStringLiteral("primary"));
    Probe& primaryB = launch(probeB);
    ASSERT_EQ(primaryB.nextLine(), QStringLiteral("primary"));

    expectHandOver(probeB, primaryB, {QStringLiteral("for b")}, {QStringLiteral("for b")});
    // A's first hand-over is A's own: B's never reached it.
    expectHandOver(probeA, primaryA, {QStringLiteral("for a")}, {QStringLiteral("for a")});
}

TEST_F(SingleInstanceTest, KilledPrimaryIsReplacedAtOnce) {
    const QString probe = program(QStringLiteral("si_probe"));
    Probe& killed = launch(probe);
    ASSERT_EQ(killed.nextLine(), QStringLiteral("primary"));
    killed.kill();

    // Its block and semaphore survive it and name a process that is gone.
    Probe& next = launch(probe);
    ASSERT_EQ(next.nextLine(), QStringLiteral("primary"));
    EXPECT_LT(next.lineAtMs(), kWaitMs / 3);
    std::printf("replaced a killed primary in %lld ms\n", next.lineAtMs());

    // The block and the semaphore work for the new primary.
    expectHandOver(probe, next, {QStringLiteral("after")}, {QStringLiteral("after")});
}

TEST_F(SingleInstanceTest, StoppedPrimaryIsWaitedForThenReplaced) {
    const QString probe = program(QStringLiteral("si_probe"));
    Probe& stopped = launch(probe);
    ASSERT_EQ(stopped.nextLine(), QStringLiteral("primary"));
    stopped.signal(SIGSTOP);

    Probe& next = launch(probe, {QStringLiteral("meant for the stopped one")});
    ASSERT_EQ(next.nextLine(), QStringLiteral("primary"));
    // One wait, for the answer; the block itself was free.
    EXPECT_GE(next.lineAtMs(), kWaitMs);
    EXPECT_LT(next.lineAtMs(), 2 * kWaitMs);
    std::printf("replaced a stopped primary in %lld ms\n", next.lineAtMs());

    // The block names the new primary now.
    expectHandOver(probe, next, {QStringLiteral("third")}, {QStringLiteral("third")});

    // Woken, the old primary finds the hand-over withdrawn and the block no longer
    // its own: it receives nothing.
    stopped.signal(SIGCONT);
    QThread::msleep(300);
    EXPECT_FALSE(stopped.quit().contains(QStringLiteral("received")));

    // Its ordinary exit removed the semaphore it had created; the next copy still
    // reaches the new primary.
    expectHandOver(probe, next, {QStringLiteral("fourth")}, {QStringLiteral("fourth")});
}

TEST_F(SingleInstanceTest, CopyStoppedWhileHandingOverIsWaitedForThenCatchesUp) {
    const QString probe = program(QStringLiteral("si_probe"));
    Probe& primary = launch(probe);
    ASSERT_EQ(primary.nextLine(), QStringLiteral("primary"));
    primary.signal(SIGSTOP);
    // This one takes the block and waits for an answer; stopped, it keeps the block.
    Probe& holder = launch(probe, {QStringLiteral("held")});
    QThread::msleep(kWaitMs / 3);
    holder.signal(SIGSTOP);

    Probe& next = launch(probe);
    ASSERT_EQ(next.nextLine(), QStringLiteral("primary"));
    EXPECT_GE(next.lineAtMs(), kWaitMs);
    EXPECT_LT(next.lineAtMs(), 2 * kWaitMs);

    // The acquire it gave up on must not keep the block from the next copy.
    expectHandOver(probe, next, {QStringLiteral("after")}, {QStringLiteral("after")});

    // Woken, the holder finds the block under a new name and hands over to it.
    holder.signal(SIGCONT);
    EXPECT_EQ(holder.nextLine(), QStringLiteral("handed-over"));
    EXPECT_TRUE(holder.exitedCleanly());
    EXPECT_EQ(handedOverArguments(next.nextLine()), QStringList{QStringLiteral("held")});
    expectHandOver(probe, next, {QStringLiteral("last")}, {QStringLiteral("last")});
}

TEST_F(SingleInstanceTest, CopiesStartedTogetherLeaveOneRunning) {
    const QString probe = program(QStringLiteral("si_probe"));
    for (const bool afterCrash : {false, true}) {
        for (int round = 0; round < 3; ++round) {
            SCOPED_TRACE(testing::Message()
                         << "after a crash: " << afterCrash << ", round " << round);
            if (afterCrash) {
                Probe& crashed = launch(probe);
                ASSERT_EQ(crashed.nextLine(), QStringLiteral("primary"));
                crashed.kill();
            }
            // All three run the check within the same fraction of a millisecond.
            const qint64 startAt = QDateTime::currentMSecsSinceEpoch() + kBarrierMs;
            startTogetherAt(startAt);
            std::vector<Probe*> copies;
            for (int i = 0; i < 3; ++i) {
                copies.push_back(&launch(probe, {QStringLiteral("copy %1").arg(i)}));
            }
            startWithoutWaiting();
            Probe* primary = nullptr;
            QStringList handedOver;
            for (int i = 0; i < 3; ++i) {
                const QString line = copies[static_cast<std::size_t>(i)]->nextLine();
                EXPECT_LT(copies[static_cast<std::size_t>(i)]->lineAtMs(), kBarrierMs + kWaitMs)
                    << "no wait";
                if (line == QStringLiteral("primary")) {
                    EXPECT_EQ(primary, nullptr) << "a second primary";
                    primary = copies[static_cast<std::size_t>(i)];
                } else {
                    EXPECT_EQ(line, QStringLiteral("handed-over"));
                    handedOver.append(QStringLiteral("copy %1").arg(i));
                }
            }
            ASSERT_NE(primary, nullptr);
            QStringList received;
            for (int i = 0; i < 2; ++i) {
                received += handedOverArguments(primary->nextLine());
            }
            received.sort();
            EXPECT_EQ(received, handedOver);
            for (Probe* copy : copies) {
                if (copy != primary) {
                    EXPECT_TRUE(copy->exitedCleanly());
                }
            }
            primary->quit();
        }
    }
}

// Where another account could have made the meeting place (here: a folder or
// block that is not the user's own, or open to others), nothing there is
// trusted: every copy runs on its own and nothing is written there.
TEST_F(SingleInstanceTest, MeetingPlacesOfOthersAreNeverUsed) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "making files of another account needs root";
    }
    constexpr uid_t kOther = 65534;
    const QString probe = program(QStringLiteral("si_probe"));
    const QString shared = ipcFolder() + QStringLiteral("/shared");
    const QString planted = shared + QStringLiteral("/pulsaro-%1").arg(::getuid());
    const QString block = planted + QStringLiteral("/si_probe.instance");
    struct Case {
        const char* what;
        uid_t folderOwner;
        mode_t folderMode;
        uid_t blockOwner;
        mode_t blockMode;
    };
    for (const Case& c : {Case{"folder of another account", kOther, 0700, kOther, 0600},
                          Case{"folder open to others", 0, 0777, 0, 0600},
                          Case{"block of another account", 0, 0700, kOther, 0666},
                          Case{"block open to others", 0, 0700, 0, 0666}}) {
        SCOPED_TRACE(c.what);
        QDir(shared).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(planted));
        ASSERT_EQ(::chmod(QFile::encodeName(shared).constData(), 01777), 0);
        QFile blockFile(block);
        ASSERT_TRUE(blockFile.open(QIODevice::WriteOnly));
        blockFile.close();
        ASSERT_EQ(::chown(QFile::encodeName(block).constData(), c.blockOwner, c.blockOwner), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(block).constData(), c.blockMode), 0);
        ASSERT_EQ(::chown(QFile::encodeName(planted).constData(), c.folderOwner, c.folderOwner), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(planted).constData(), c.folderMode), 0);
        environment().remove(QStringLiteral("XDG_RUNTIME_DIR"));
        environment().insert(QStringLiteral("TMPDIR"), shared);

        Probe& first = launch(probe);
        EXPECT_EQ(first.nextLine(), QStringLiteral("primary"));
        Probe& second = launch(probe, {QStringLiteral("secret")});
        EXPECT_EQ(second.nextLine(), QStringLiteral("primary"));
        EXPECT_LT(second.lineAtMs(), kWaitMs);
        EXPECT_EQ(QFileInfo(block).size(), 0);
        EXPECT_EQ(QDir(planted).entryList(QDir::Files | QDir::System).size(), 1);
        first.quit();
        second.quit();
    }
}

}  // namespace
