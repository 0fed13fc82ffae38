#include "platform/single_instance.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSharedMemory>
#include <QSystemSemaphore>
#include <QtEndian>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>

#ifdef Q_OS_UNIX
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#endif

namespace pulsaro {
namespace {

constexpr qsizetype kBlockBytes = 3018;
constexpr qsizetype kSlotsOffset = 8;
constexpr qsizetype kSlotBytes = 301;
constexpr qsizetype kSlotText = kSlotBytes - 1;  // the last byte stays zero
constexpr int kMaxSlots = 10;
static_assert(kSlotsOffset + kMaxSlots * kSlotBytes == kBlockBytes);

constexpr std::int32_t kIdle = -1;
constexpr char kHandOverByte = 'H';
constexpr char kReadByte = 'R';
// Each round of the start-up check ends with the block changing hands; a block
// that keeps doing so past this many rounds is not worth waiting for.
constexpr int kMaxRounds = 16;
// A copy that has claimed the block needs milliseconds to start listening, and
// Qt's own lock beside the block is remade as quickly.
constexpr std::chrono::milliseconds kRetryPause{5};

// The process id and the slot count as one word, so that both change together.
using Word = std::uint64_t;
// Lock-free atomics are address-free, which is what sharing them between
// processes needs.
static_assert(std::atomic_ref<Word>::is_always_lock_free);

Word encode(std::int32_t owner, std::int32_t count) {
    const Word value =
        Word{static_cast<std::uint32_t>(owner)} | (Word{static_cast<std::uint32_t>(count)} << 32);
    return qToLittleEndian(value);
}

std::pair<std::int32_t, std::int32_t> decode(Word raw) {
    const Word value = qFromLittleEndian(raw);
    return {static_cast<std::int32_t>(static_cast<std::uint32_t>(value)),
            static_cast<std::int32_t>(static_cast<std::uint32_t>(value >> 32))};
}

bool processExists(std::int32_t pid) {
    if (pid <= 0) {
        return false;  // kill() would signal a whole process group
    }
#ifdef Q_OS_UNIX
    // EPERM means it exists but belongs to someone else.
    return ::kill(pid, 0) == 0 || errno != ESRCH;
#else
    return true;  // no cheap check here: an unresponsive copy is still left after the wait
#endif
}

QString userScope() {
#ifdef Q_OS_UNIX
    return QString::number(::getuid());
#else
    return qEnvironmentVariable("USERNAME");
#endif
}

// At most kSlotText bytes, never ending inside a UTF-8 sequence.
QByteArray slotText(const QString& argument) {
    QByteArray bytes = argument.toUtf8();
    if (bytes.size() > kSlotText) {
        qsizetype cut = kSlotText;
        while (cut > 0 && (static_cast<unsigned char>(bytes[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        bytes.truncate(cut);
    }
    return bytes;
}

enum class Outcome { Waiting, Acquired, Failed, Abandoned };

// QSystemSemaphore has no timed acquire, so a helper thread blocks in acquire()
// while this thread waits on a condition. A helper that gets the count only after
// its waiter gave up (Abandoned) hands it straight back, so a late acquire takes
// nothing.
Outcome acquireWithin(const std::shared_ptr<QSystemSemaphore>& semaphore,
                      std::chrono::milliseconds wait) {
    struct Waiter {
        std::mutex mutex;
        std::condition_variable changed;
        Outcome outcome = Outcome::Waiting;
    };
    auto waiter = std::make_shared<Waiter>();
    // Detached: it may stay blocked for as long as the block is held.
    std::thread([semaphore, waiter] {
        const bool acquired = semaphore->acquire();
        const std::lock_guard lock(waiter->mutex);
        if (waiter->outcome == Outcome::Abandoned) {
            if (acquired) {
                semaphore->release();
            }
            return;
        }
        waiter->outcome = acquired ? Outcome::Acquired : Outcome::Failed;
        waiter->changed.notify_one();
    }).detach();
    std::unique_lock lock(waiter->mutex);
    if (!waiter->changed.wait_for(lock, wait,
                                  [&] { return waiter->outcome != Outcome::Waiting; })) {
        waiter->outcome = Outcome::Abandoned;
    }
    return waiter->outcome;
}

}  // namespace

TSingleInstance::TSingleInstance(std::chrono::milliseconds wait) : wait_(wait) {}

TSingleInstance::~TSingleInstance() {
    if (server_ && memory_) {
        // Free the name, so the next copy needn't ask whether we still live.
        State seen = load();
        while (std::abs(seen.owner) == ownPid_ && !compareExchange(seen, {0, kIdle})) {
        }
    }
    // Then the members go: the server removes its socket file, the semaphore this
    // copy created is removed, and the last copy to detach removes the block.
}

TSingleInstance::Role TSingleInstance::start(const QStringList& arguments) {
    fileName_ = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    userScope_ = userScope();
    semaphoreKey_ = fileName_ + QStringLiteral("Sem.") + userScope_;
    ownPid_ = static_cast<std::int32_t>(QCoreApplication::applicationPid());

    memory_ = std::make_unique<QSharedMemory>(fileName_ + u'.' + userScope_);
    if (!openBlock()) {
        memory_.reset();
        return Role::Primary;  // nowhere to meet: run unguarded rather than not at all
    }

    QList<QByteArray> slotTexts;
    for (const QString& argument : arguments.mid(0, kMaxSlots)) {
        slotTexts.append(slotText(argument));
    }

    for (int round = 0; round < kMaxRounds; ++round) {
        State seen = load();
        const std::int32_t owner = std::abs(seen.owner);
        // Our own id there was left by a dead process that had it before us.
        if (owner == ownPid_ || !processExists(owner)) {
            if (compareExchange(seen, {-ownPid_, kIdle})) {
                return becomePrimary();
            }
            continue;
        }
        if (seen.owner < 0) {
            if (!awaitSetUp(seen) && compareExchange(seen, {-ownPid_, kIdle})) {
                return becomePrimary();
            }
            continue;
        }
        switch (handOver(seen, slotTexts)) {
            case Attempt::Done:
                return Role::HandedOver;
            case Attempt::TookOver:
                return becomePrimary();
            case Attempt::Retry:
                break;
        }
    }
    return Role::Primary;
}

void TSingleInstance::setInstanceStarted(StartedHandler handler) {
    instanceStarted_ = std::move(handler);
    if (instanceStarted_) {
        for (const QStringList& arguments : std::exchange(undelivered_, {})) {
            instanceStarted_(arguments);
        }
    }
}

// A new block is zero-filled: it names nobody, so the first round claims it. A
// block that outlived a crash names a dead process and is claimed as well.
bool TSingleInstance::openBlock() {
    const QDeadlineTimer deadline(wait_);
    for (;;) {
        if (memory_->create(kBlockBytes) ||
            (memory_->error() == QSharedMemory::AlreadyExists && memory_->attach())) {
            return memory_->size() >= kBlockBytes;
        }
        // Qt keeps a lock of its own beside the block, and a copy that fails to
        // create the block removes and remakes it: a copy that comes in between
        // fails for a moment (as a key, lock or unknown error, depending on the
        // call that met the gap), as does one that attaches just after the last
        // user removed the block. Only these errors last.
        const auto error = memory_->error();
        const bool lasting = error == QSharedMemory::PermissionDenied ||
                             error == QSharedMemory::InvalidSize ||
                             error == QSharedMemory::OutOfResources;
        if (lasting || deadline.hasExpired()) {
            return false;
        }
        std::this_thread::sleep_for(kRetryPause);
    }
}

QString TSingleInstance::serverName(std::int32_t pid) const {
    return fileName_ + u'.' + userScope_ + u'.' + QString::number(pid);
}

TSingleInstance::State TSingleInstance::load() const {
    std::atomic_ref<Word> word(*static_cast<Word*>(memory_->data()));
    const auto [owner, count] = decode(word.load());
    return {owner, count};
}

bool TSingleInstance::compareExchange(State& expected, State desired) {
    std::atomic_ref<Word> word(*static_cast<Word*>(memory_->data()));
    Word raw = encode(expected.owner, expected.count);
    if (word.compare_exchange_strong(raw, encode(desired.owner, desired.count))) {
        return true;
    }
    const auto [owner, count] = decode(raw);
    expected = {owner, count};
    return false;
}

// True when the copy setting up finished or died within the wait.
bool TSingleInstance::awaitSetUp(State seen) const {
    const QDeadlineTimer deadline(wait_);
    while (load() == seen) {
        if (!processExists(-seen.owner)) {
            return true;
        }
        if (deadline.hasExpired()) {
            return false;
        }
        std::this_thread::sleep_for(kRetryPause);
    }
    return true;
}

TSingleInstance::Attempt TSingleInstance::handOver(State seen, const QList<QByteArray>& slotTexts) {
    // Open, not Create: Create would reset a count that another copy may hold.
    auto semaphore = std::make_shared<QSystemSemaphore>(semaphoreKey_, 1, QSystemSemaphore::Open);
    const Outcome acquired = acquireWithin(semaphore, wait_);
    if (acquired == Outcome::Failed) {
        // The semaphore is being remade; that is no reason to run.
        std::this_thread::sleep_for(kRetryPause);
        return Attempt::Retry;
    }
    if (acquired == Outcome::Abandoned) {
        State now = load();
        if (now.owner == seen.owner && compareExchange(now, {-ownPid_, kIdle})) {
            return Attempt::TookOver;
        }
        return Attempt::Retry;  // someone else took over meanwhile: hand over to them
    }

    State now = load();
    if (now.owner != seen.owner) {
        semaphore->release();
        return Attempt::Retry;
    }
    char* slotArea = static_cast<char*>(memory_->data()) + kSlotsOffset;
    std::memset(slotArea, 0, kMaxSlots * kSlotBytes);
    for (qsizetype i = 0; i < slotTexts.size(); ++i) {
        std::memcpy(slotArea + i * kSlotBytes, slotTexts[i].constData(),
                    static_cast<std::size_t>(slotTexts[i].size()));
    }
    const State pending{seen.owner, static_cast<std::int32_t>(slotTexts.size())};
    if (!compareExchange(now, pending)) {
        semaphore->release();
        return Attempt::Retry;
    }

    if (!awaitAnswer(seen.owner, wait_)) {
        // Withdraw and run; this fails only when the running copy read the slots
        // just now, or was replaced.
        State withdrawn = pending;
        if (compareExchange(withdrawn, {-ownPid_, kIdle})) {
            return Attempt::TookOver;  // the count stays taken: becomePrimary resets it
        }
        if (withdrawn != State{seen.owner, kIdle}) {
            semaphore->release();
            return Attempt::Retry;
        }
    }
    semaphore->release();
    return Attempt::Done;
}

// The answer comes over the socket, not through the semaphore: Qt's System V
// semaphore undoes each process's changes when it exits, so a count passed
// from the running copy to this one would come back as an extra count.
bool TSingleInstance::awaitAnswer(std::int32_t owner, std::chrono::milliseconds wait) {
    const QDeadlineTimer deadline(wait);
    const auto remaining = [&] { return static_cast<int>(deadline.remainingTime()); };
    QLocalSocket socket;
    socket.connectToServer(serverName(owner));
    if (!socket.waitForConnected(remaining())) {
        return false;  // a stale id or no server: nobody will answer
    }
    socket.putChar(kHandOverByte);
    socket.flush();
    while (socket.bytesAvailable() == 0) {
        if (!socket.waitForReadyRead(remaining())) {
            return false;
        }
    }
    char reply = 0;
    return socket.getChar(&reply) && reply == kReadByte;
}

TSingleInstance::Role TSingleInstance::becomePrimary() {
    // Crashed copies leave their socket files behind, including copies the block
    // no longer names.
    const QString prefix = serverName(0).chopped(1);
    for (const QString& entry : QDir(QDir::tempPath()).entryList(QDir::System)) {
        bool isNumber = false;
        const int pid = entry.startsWith(prefix) ? entry.mid(prefix.size()).toInt(&isNumber) : 0;
        if (isNumber && pid != ownPid_ && !processExists(pid)) {
            QLocalServer::removeServer(entry);
        }
    }
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    const QString name = serverName(ownPid_);
    QLocalServer::removeServer(name);  // left by an earlier process with our id
    // Should listening fail, later copies find nobody to answer and run themselves.
    server_->listen(name);
    QObject::connect(server_.get(), &QLocalServer::newConnection, server_.get(), [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            QObject::connect(socket, &QLocalSocket::readyRead, socket,
                             [this, socket] { answer(socket); });
            if (socket->bytesAvailable() > 0) {
                answer(socket);
            }
        }
    });

    // Create sets the count to 1 (block free) whatever a crashed or stopped copy
    // left, and makes this copy the one that removes the semaphore at exit. A
    // release after Create 0 would do the same, but Qt's System V semaphore takes
    // a process's releases back when it dies, which would leave 0 after a crash.
    semaphore_ = std::make_unique<QSystemSemaphore>(semaphoreKey_, 1, QSystemSemaphore::Create);

    State seen = load();
    while (seen.owner == -ownPid_ && !compareExchange(seen, {ownPid_, seen.count})) {
    }
    return Role::Primary;
}

void TSingleInstance::answer(QLocalSocket* socket) {
    char request = 0;
    if (!socket->getChar(&request)) {
        return;
    }
    const auto arguments = request == kHandOverByte ? readHandOver() : std::nullopt;
    // Answer before the handler runs, so the waiting copy never waits on the window.
    if (arguments) {
        socket->putChar(kReadByte);
    }
    // Closing without a reply tells a copy that gave up, or a stranger, that
    // nothing was read.
    socket->disconnectFromServer();
    if (!arguments) {
        return;
    }
    if (instanceStarted_) {
        instanceStarted_(*arguments);
    } else {
        undelivered_.append(*arguments);
    }
}

// The arguments of the waiting hand-over, or nothing when none waits for this
// copy or its sender withdrew it before it was marked read.
std::optional<QStringList> TSingleInstance::readHandOver() {
    State seen = load();
    if (seen.owner != ownPid_ || seen.count < 0 || seen.count > kMaxSlots) {
        return std::nullopt;
    }
    const char* slotArea = static_cast<const char*>(memory_->constData()) + kSlotsOffset;
    QStringList arguments;
    for (int i = 0; i < seen.count; ++i) {
        const char* text = slotArea + i * kSlotBytes;
        arguments.append(
            QString::fromUtf8(text, static_cast<qsizetype>(qstrnlen(text, kSlotText))));
    }
    if (!compareExchange(seen, {ownPid_, kIdle})) {
        return std::nullopt;  // withdrawn meanwhile: what was read may be torn
    }
    return arguments;
}

}  // namespace pulsaro
