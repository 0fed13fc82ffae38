#pragma once

#include <QString>
#include <QStringList>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QLocalServer;
class QLocalSocket;
class QSharedMemory;
class QSystemSemaphore;

namespace pulsaro {

// Keeps one copy of the program running per user and executable file name.
//
// The copies meet in a shared block named after the executable's file name and
// the user (3018 bytes, little-endian): offset 0 the running copy's process id
// (negated while that copy is still setting up), offset 4 the slot count (0..10
// while a hand-over waits, -1 when none does), offset 8 + 301*i slot i, a
// zero-terminated UTF-8 argument of at most 300 bytes. A semaphore named after
// the file name + "Sem" lets one later copy at a time fill the slots; the
// running copy learns of them through a local server named from the file
// name, the user and its process id, and answers once it has read them.
//
// The first two words change only by compare-and-swap as one 64-bit value, so
// which copy runs, and whether a waiting hand-over was read or given up, is
// always decided by exactly one copy.
//
// Every member is called on the thread that owns the QCoreApplication.
class TSingleInstance {
public:
    enum class Role {
        Primary,     // this copy runs: create the main window
        HandedOver,  // the running copy has the arguments: exit without a window
    };
    using StartedHandler = std::function<void(const QStringList& arguments)>;

    static constexpr std::chrono::milliseconds kDefaultWait{10000};

    // wait: how long a later copy waits for the block and then for the answer
    // before it runs itself.
    explicit TSingleInstance(std::chrono::milliseconds wait = kDefaultWait);
    ~TSingleInstance();
    TSingleInstance(const TSingleInstance&) = delete;
    TSingleInstance& operator=(const TSingleInstance&) = delete;

    // The start-up check; call once, with the arguments after the program path,
    // before the main window exists. Needs a QCoreApplication.
    Role start(const QStringList& arguments);

    // Receives the arguments each later copy hands over, from the event loop;
    // hand-overs that arrived before a handler was set are delivered now.
    void setInstanceStarted(StartedHandler handler);

private:
    struct State {
        std::int32_t owner = 0;  // process id; negative while setting up
        std::int32_t count = 0;  // slots waiting to be read, or kIdle
        bool operator==(const State&) const = default;
    };
    enum class Attempt { Done, TookOver, Retry };

    bool openBlock();
    QString serverName(std::int32_t pid) const;
    State load() const;
    bool compareExchange(State& expected, State desired);
    bool awaitSetUp(State seen) const;
    Attempt handOver(State seen, const QList<QByteArray>& slotTexts);
    bool awaitAnswer(std::int32_t owner, std::chrono::milliseconds wait);
    Role becomePrimary();
    void answer(QLocalSocket* socket);
    std::optional<QStringList> readHandOver();

    std::chrono::milliseconds wait_;
    QString fileName_;
    QString userScope_;
    QString semaphoreKey_;
    std::int32_t ownPid_ = 0;
    std::unique_ptr<QSharedMemory> memory_;
    std::unique_ptr<QSystemSemaphore> semaphore_;
    std::unique_ptr<QLocalServer> server_;
    StartedHandler instanceStarted_;
    QList<QStringList> undelivered_;
};

}  // namespace pulsaro
