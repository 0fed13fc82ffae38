// Records, for each non-autorepeat Space KeyPress:
//   arrival_us = steady_clock::now() at the start of keyPressEvent (µs)
//   event_ms   = QKeyEvent::timestamp() (X server time, ms)
// Options: --out FILE  --count K  --busy-every N  --busy-for B  --timeout S
// With --busy-every/--busy-for a precise QTimer busy-waits B ms every N ms
// in the GUI thread. Writes "arrival_us,event_ms" lines on exit / after K.
#include <QApplication>
#include <QKeyEvent>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;

long long nowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch())
        .count();
}

struct Rec {
    long long arrivalUs;
    unsigned long long eventMs;
};

class Probe : public QWidget {
public:
    Probe(std::string out, int count) : out_(std::move(out)), count_(count) {
        setWindowTitle("tap_timing_probe");
        resize(200, 100);
        recs_.reserve(1024);
    }
    ~Probe() override { dump(); }
    void dump() {
        if (dumped_)
            return;
        dumped_ = true;
        FILE* f = std::fopen(out_.c_str(), "w");
        if (!f) {
            std::perror("fopen");
            return;
        }
        std::fprintf(f, "arrival_us,event_ms\n");
        for (auto& r : recs_)
            std::fprintf(f, "%lld,%llu\n", r.arrivalUs, r.eventMs);
        std::fclose(f);
        std::fprintf(stderr, "tap_timing_probe: %zu presses -> %s\n", recs_.size(), out_.c_str());
    }

protected:
    void keyPressEvent(QKeyEvent* e) override {
        const long long t = nowUs();  // first thing
        if (e->key() == Qt::Key_Space && !e->isAutoRepeat()) {
            recs_.push_back({t, static_cast<unsigned long long>(e->timestamp())});
            if (count_ > 0 && int(recs_.size()) >= count_) {
                dump();
                QCoreApplication::quit();
            }
            return;
        }
        QWidget::keyPressEvent(e);
    }

private:
    std::string out_;
    int count_;
    bool dumped_ = false;
    std::vector<Rec> recs_;
};
}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    std::string out = "tap_timing.csv";
    int count = 0, busyEvery = 0, busyFor = 0, timeoutS = 120;
    for (int i = 1; i + 1 < argc; i += 2) {
        const char *k = argv[i], *v = argv[i + 1];
        if (!std::strcmp(k, "--out"))
            out = v;
        else if (!std::strcmp(k, "--count"))
            count = std::atoi(v);
        else if (!std::strcmp(k, "--busy-every"))
            busyEvery = std::atoi(v);
        else if (!std::strcmp(k, "--busy-for"))
            busyFor = std::atoi(v);
        else if (!std::strcmp(k, "--timeout"))
            timeoutS = std::atoi(v);
        else {
            std::fprintf(stderr, "unknown option %s\n", k);
            return 2;
        }
    }
    Probe w(out, count);
    w.show();

    QTimer busy;
    if (busyEvery > 0 && busyFor > 0) {
        busy.setTimerType(Qt::PreciseTimer);
        busy.setInterval(busyEvery);
        QObject::connect(&busy, &QTimer::timeout, [busyFor] {
            const auto end = Clock::now() + std::chrono::milliseconds(busyFor);
            while (Clock::now() < end) {
            }
        });
        busy.start();
    }
    // Hard bound so a run can never hang.
    QTimer::singleShot(timeoutS * 1000, &app, [&] {
        w.dump();
        QCoreApplication::quit();
    });
    return app.exec();
}
