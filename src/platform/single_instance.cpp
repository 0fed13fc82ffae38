#include "platform/single_instance.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QtEndian>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
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

#ifdef Q_OS_UNIX
// Belongs to the user and nobody else may read, write or enter it.
bool isPrivate(const struct stat& info) {
    return info.st_uid == ::getuid() && (info.st_mode & 077) == 0;
}

bool isPrivateFolder(const QByteArray& path) {
    struct stat info {};
    return !path.isEmpty() && ::lstat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode) &&
           isPrivate(info);
}

// A regular file of the user's own, opened for reading and writing (created
// when missing); -1 when it is anything else.
int openPrivateFile(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    struct stat info {};
    if (fd != -1 && (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || !isPrivate(info))) {
        ::close(fd);
        return -1;
    }
    return fd;
}
#endif

// The folder the copies meet in, or nothing when there is no private one.
QString meetingFolder() {
#ifdef Q_OS_UNIX
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (isPrivateFolder(runtime)) {
        return QFile::decodeName(runtime);
    }
    // Someone else may have made this folder first; then it fails the check.
    const QByteArray own =
        QFile::encodeName(QDir::tempPath()) + "/pulsaro-" + QByteArray::number(::getuid());
    ::mkdir(own.constData(), 0700);
    if (isPrivateFolder(own)) {
        return QFile::decodeName(own);
    }
#endif
    return {};
}

// Whether the process at the other end of a connected local socket is the
// user's own (and, where the system tells, the process expected).
bool peerIsOwn(qintptr descriptor, std::int32_t expectedPid) {
#if defined(Q_OS_LINUX)
    ucred credentials{};
    socklen_t size = sizeof credentials;
    return ::getsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials,
                        &size) == 0 &&
           credentials.uid == ::getuid() && (expectedPid == 0 || credentials.pid == expectedPid);
#elif defined(Q_OS_UNIX)
    uid_t uid = 0;
    gid_t gid = 0;
    Q_UNUSED(expectedPid);
    return ::getpeereid(static_cast<int>(descriptor), &uid, &gid) == 0 && uid == ::getuid();
#else
    Q_UNUSED(descriptor);
    Q_UNUSED(expectedPid);
    return false;
#endif
}

// Waits up to `wait` for the lock file at path; returns its descriptor, whose
// closing (or the process's end) lets the lock go, or -1.
int lockWithin(const QString& path, std::chrono::milliseconds wait) {
#ifdef Q_OS_UNIX
    const int fd = openPrivateFile(path);
    if (fd == -1) {
        return -1;
    }
    const QDeadlineTimer deadline(wait);
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || deadline.hasExpired()) {
            ::close(fd);
            return -1;
        }
        std::this_thread::sleep_for(kRetryPause);
    }
    return fd;
#else
    Q_UNUSED(path);
    Q_UNUSED(wait);
    return -1;
#endif
}

void unlock(int fd) {
#ifdef Q_OS_UNIX
    ::close(fd);
#else
    Q_UNUSED(fd);
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

}  // namespace

// The block, mapped into this process for as long as the guard lives.
class MappedBlock {
public:
    explicit MappedBlock(const QString& path) {
#ifdef Q_OS_UNIX
        fd_ = openPrivateFile(path);
        struct stat info {};
        // A new file grows zero-filled: it names nobody, so the first round
        // claims it. Two copies growing it together agree on the size.
        if (fd_ == -1 || ::fstat(fd_, &info) != 0 ||
            (info.st_size < kBlockBytes && ::ftruncate(fd_, kBlockBytes) != 0)) {
            return;
        }
        void* data = ::mmap(nullptr, kBlockBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
        data_ = data == MAP_FAILED ? nullptr : data;
#else
        Q_UNUSED(path);
#endif
    }
    ~MappedBlock() {
#ifdef Q_OS_UNIX
        if (data_ != nullptr) {
            ::munmap(data_, kBlockBytes);
        }
        if (fd_ != -1) {
            ::close(fd_);
        }
#endif
    }
    MappedBlock(const MappedBlock&) = delete;
    MappedBlock& operator=(const MappedBlock&) = delete;

    bool isOpen() const {
        return data_ != nullptr;
    }
    Word* word() const {
        return static_cast<Word*>(data_);
    }
    char* slotArea() const {
        return static_cast<char*>(data_) + kSlotsOffset;
    }

private:
    int fd_ = -1;
    void* data_ = nullptr;
};

TSingleInstance::TSingleInstance(std::chrono::milliseconds wait) : wait_(wait) {}

TSingleInstance::~TSingleInstance() {
    if (server_ && block_) {
        // Free the name, so the next copy needn't ask whether we still live.
        State seen = load();
        while (std::abs(seen.owner) == ownPid_ && !compareExchange(seen, {0, kIdle})) {
        }
        QFile::remove(ownFile(ownPid_, QStringLiteral("lock")));
    }
    // The server removes its socket file as it goes; the block stays, naming
    // nobody, for the next copy.
}

TSingleInstance::Role TSingleInstance::start(const QStringList& arguments) {
    fileName_ = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    ownPid_ = static_cast<std::int32_t>(QCoreApplication::applicationPid());
    folder_ = meetingFolder();
    if (folder_.isEmpty() || !openBlock()) {
        block_.reset();
        return Role::Primary;  // nowhere safe to meet: run unguarded rather than not at all
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

bool TSingleInstance::openBlock() {
    block_ = std::make_unique<MappedBlock>(ownFile(0, QStringLiteral("instance")));
    return block_->isOpen();
}

// <folder>/<name>.<pid>.<suffix>, or <folder>/<name>.<suffix> for pid 0.
QString TSingleInstance::ownFile(std::int32_t pid, const QString& suffix) const {
    QString name = folder_ + u'/' + fileName_ + u'.';
    if (pid != 0) {
        name += QString::number(pid) + u'.';
    }
    return name + suffix;
}

QString TSingleInstance::serverName(std::int32_t pid) const {
    return ownFile(pid, QStringLiteral("socket"));
}

TSingleInstance::State TSingleInstance::load() const {
    std::atomic_ref<Word> word(*block_->word());
    const auto [owner, count] = decode(word.load());
    return {owner, count};
}

bool TSingleInstance::compareExchange(State& expected, State desired) {
    std::atomic_ref<Word> word(*block_->word());
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
    // The lock belongs to the running copy it guards: a copy that stopped while
    // holding it keeps nobody from the copy that replaces that one.
    const int lock = lockWithin(ownFile(seen.owner, QStringLiteral("lock")), wait_);
    if (lock == -1) {
        State now = load();
        if (now.owner == seen.owner && compareExchange(now, {-ownPid_, kIdle})) {
            return Attempt::TookOver;
        }
        return Attempt::Retry;  // someone else took over meanwhile: hand over to them
    }

    State now = load();
    if (now.owner != seen.owner) {
        unlock(lock);
        return Attempt::Retry;
    }
    char* slotArea = block_->slotArea();
    std::memset(slotArea, 0, kMaxSlots * kSlotBytes);
    for (qsizetype i = 0; i < slotTexts.size(); ++i) {
        std::memcpy(slotArea + i * kSlotBytes, slotTexts[i].constData(),
                    static_cast<std::size_t>(slotTexts[i].size()));
    }
    const State pending{seen.owner, static_cast<std::int32_t>(slotTexts.size())};
    if (!compareExchange(now, pending)) {
        unlock(lock);
        return Attempt::Retry;
    }

    if (!awaitAnswer(seen.owner, wait_)) {
        // Withdraw and run; this fails only when the running copy read the slots
        // just now, or was replaced.
        State withdrawn = pending;
        if (compareExchange(withdrawn, {-ownPid_, kIdle})) {
            unlock(lock);
            return Attempt::TookOver;
        }
        if (withdrawn != State{seen.owner, kIdle}) {
            unlock(lock);
            return Attempt::Retry;
        }
    }
    unlock(lock);
    return Attempt::Done;
}

bool TSingleInstance::awaitAnswer(std::int32_t owner, std::chrono::milliseconds wait) {
    const QDeadlineTimer deadline(wait);
    const auto remaining = [&] { return static_cast<int>(deadline.remainingTime()); };
    QLocalSocket socket;
    socket.connectToServer(serverName(owner));
    if (!socket.waitForConnected(remaining())) {
        return false;  // a stale id or no server: nobody will answer
    }
    // Only the copy the block names may read the arguments.
    if (!peerIsOwn(socket.socketDescriptor(), owner)) {
        return false;
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
    // Crashed copies leave their socket and lock files behind, including copies
    // the block no longer names.
    const QString prefix = fileName_ + u'.';
    const QDir folder(folder_);
    for (const QString& entry : folder.entryList(QDir::Files | QDir::System | QDir::Hidden)) {
        const qsizetype dot = entry.lastIndexOf(u'.');
        const QStringView suffix = QStringView(entry).mid(dot + 1);
        if (!entry.startsWith(prefix) || dot <= prefix.size() ||
            (suffix != u"socket" && suffix != u"lock")) {
            continue;
        }
        bool isNumber = false;
        const int pid = QStringView(entry).mid(prefix.size(), dot - prefix.size()).toInt(&isNumber);
        if (isNumber && pid != ownPid_ && !processExists(pid)) {
            QFile::remove(folder.filePath(entry));
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
            if (!peerIsOwn(socket->socketDescriptor(), 0)) {
                socket->disconnectFromServer();
                continue;
            }
            QObject::connect(socket, &QLocalSocket::readyRead, socket,
                             [this, socket] { answer(socket); });
            if (socket->bytesAvailable() > 0) {
                answer(socket);
            }
        }
    });

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
    const char* slotArea = block_->slotArea();
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
