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

namespace pulsaro {

// Keeps one copy of the program running per user and executable file name.
//
// The copies meet in a folder only the user can enter: $XDG_RUNTIME_DIR, or
// where the session has none, "pulsaro-<uid>" in the temporary folder. There a
// block named after the executable's file name (<name>.instance, 3018 bytes,
// little-endian, mapped by every copy) holds at offset 0 the running copy's
// process id (negated while that copy is still setting up), offset 4 the slot
// count (0..10 while a hand-over waits, -1 when none does), offset 8 + 301*i
// slot i, a zero-terminated UTF-8 argument of at most 300 bytes. A lock file of
// the running copy (<name>.<pid>.lock) lets one later copy at a time fill the
// slots; the running copy learns of them through its local socket
// (<name>.<pid>.socket) and answers once it has read them.
//
// Nothing there is trusted unless it belongs to the user and is closed to
// everyone else: the folder, the block, the lock, and the process that answers
// on the socket (by the socket's peer credentials). When something fails that
// check, this copy runs on its own.
//
// The first two words change only by compare-and-swap as one 64-bit value, so
// which copy runs, and whether a waiting hand-over was read or given up, is
// always decided by exactly one copy.
//
// Every member is called on the thread that owns the QCoreApplication.
class MappedBlock;

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
    QString ownFile(std::int32_t pid, const QString& suffix) const;
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
    QString folder_;
    std::int32_t ownPid_ = 0;
    std::unique_ptr<MappedBlock> block_;
    std::unique_ptr<QLocalServer> server_;
    StartedHandler instanceStarted_;
    QList<QStringList> undelivered_;
};

}  // namespace pulsaro
