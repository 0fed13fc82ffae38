// The global key on a private X server (run_global_shortcut_test.sh), pressed
// with xdotool while another X client, or this program's own window, has the
// keyboard focus.
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QAbstractNativeEventFilter>
#include <QGuiApplication>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QWindow>
#include <cstdlib>

#include "platform/global_shortcut.h"

namespace {

template <typename T>
std::unique_ptr<T, void (*)(void*)> owned(T* reply) {
    return {reply, std::free};
}

void xdotool(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral("xdotool"), args);
    ASSERT_TRUE(p.waitForFinished(5000) && p.exitCode() == 0) << args.join(' ').toStdString();
}

// A second X client: a window of its own, and grabs of its own.
struct OtherClient {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    xcb_window_t window = xcb_generate_id(c);
    OtherClient() {
        xcb_create_window(c, 0, window, root, 0, 0, 99, 99, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, 0, 0,
                          nullptr);
        xcb_map_window(c, window);
        xcb_set_input_focus(c, XCB_INPUT_FOCUS_NONE, window, XCB_CURRENT_TIME);
    }
    ~OtherClient() { xcb_disconnect(c); }
    xcb_window_t focus() {
        return owned(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr))->focus;
    }
    // Any key with the modifiers: refused while another client holds a key
    // with any of them.
    bool grab(std::uint16_t modifiers) {
        return !owned(
            xcb_request_check(c, xcb_grab_key_checked(c, 0, root, modifiers, XCB_GRAB_ANY,
                                                      XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)));
    }
    void ungrab() { xcb_ungrab_key(c, XCB_GRAB_ANY, root, XCB_MOD_MASK_ANY), xcb_flush(c); }
    bool receivesPress() {
        return QTest::qWaitFor([&] {
            const auto e = owned(xcb_poll_for_event(c));
            return e && (e->response_type & 0x7f) == XCB_KEY_PRESS;
        });
    }
};

// Key presses on the root window as this process sees them, before the
// shortcut's own filter.
struct RootPresses : QAbstractNativeEventFilter {
    int count = 0;
    bool nativeEventFilter(const QByteArray&, void* message, qintptr*) override {
        count +=
            (static_cast<xcb_generic_event_t*>(message)->response_type & 0x7f) == XCB_KEY_PRESS;
        return false;
    }
};

// One press taps once with the server's time stamp.
void expectOneTap(QSignalSpy& spy, const QStringList& xdotoolArgs) {
    spy.clear();
    xdotool(xdotoolArgs);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !spy.isEmpty(); }, 2000))
        << xdotoolArgs.join(' ').toStdString();
    QTest::qWait(50);
    ASSERT_EQ(spy.size(), 1);
    EXPECT_NE(spy.at(0).at(0).value<std::uint64_t>(), 0u);
}

TEST(GlobalShortcut, TapsOnceWhileAnotherClientHasTheFocusWhateverTheLocks) {
    const std::pair<const char*, const char*> cases[] = {{"Ctrl+Alt+Space", "ctrl+alt+space"},
                                                         {"Meta+F9", "super+F9"},
                                                         {"Ctrl+Shift+P", "ctrl+shift+p"},
                                                         {"Media Play", "XF86AudioPlay"}};
    OtherClient other;
    ASSERT_EQ(other.focus(), other.window);
    const auto shortcut = pulsaro::makeGlobalShortcut();
    ASSERT_TRUE(shortcut->available());
    QSignalSpy spy(shortcut.get(), &pulsaro::GlobalShortcut::activated);
    for (const auto& [key, press] : cases) {
        SCOPED_TRACE(key);
        ASSERT_EQ(shortcut->setKey(QKeySequence(QString::fromLatin1(key))), QString());
        for (const char* lock : {"", "Num_Lock", "Caps_Lock", "Num_Lock", "Caps_Lock"}) {
            if (*lock)
                xdotool({"key", lock});
            expectOneTap(spy, {"key", press});
            EXPECT_EQ(other.focus(), other.window);
        }
    }
    xdotool({"key", "Num_Lock"});
    const auto pointer =
        owned(xcb_query_pointer_reply(other.c, xcb_query_pointer(other.c, other.root), nullptr));
    ASSERT_TRUE(pointer->mask & XCB_MOD_MASK_2);
    // Held past the autorepeat delay: the server repeats, the tap does not.
    ASSERT_EQ(shortcut->setKey(QKeySequence(QStringLiteral("Ctrl+Alt+Space"))), QString());
    RootPresses presses;
    qApp->installNativeEventFilter(&presses);
    spy.clear();
    xdotool({"keydown", "ctrl+alt+space"});
    QTest::qWait(1200);
    xdotool({"keyup", "ctrl+alt+space"});
    xdotool({"key", "Num_Lock"});
    QTest::qWait(50);
    EXPECT_GT(presses.count, 2);
    EXPECT_EQ(spy.size(), 1);
}

TEST(GlobalShortcut, OwnWindowDoesNotAlsoSeeTheKey) {
    struct Window : QWindow {
        QList<int> keys;
        void keyPressEvent(QKeyEvent* e) override { keys += e->key(); }
    } window;
    window.resize(100, 100);
    window.show();
    window.requestActivate();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    const auto shortcut = pulsaro::makeGlobalShortcut();
    QSignalSpy spy(shortcut.get(), &pulsaro::GlobalShortcut::activated);
    ASSERT_EQ(shortcut->setKey(QKeySequence(QStringLiteral("Ctrl+Alt+Space"))), QString());
    expectOneTap(spy, {"key", "ctrl+alt+space"});
    xdotool({"key", "x"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.keys.contains(Qt::Key_X); }, 2000));
    EXPECT_FALSE(window.keys.contains(Qt::Key_Space));
}

TEST(GlobalShortcut, GivesTheKeyBackToOtherClients) {
    const std::uint16_t ctrlAlt = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;
    const QKeySequence key(QStringLiteral("Ctrl+Alt+Space"));
    OtherClient other;
    auto shortcut = pulsaro::makeGlobalShortcut();
    QSignalSpy spy(shortcut.get(), &pulsaro::GlobalShortcut::activated);
    // Held by the other client with NumLock on only: refused, and nothing kept.
    ASSERT_TRUE(other.grab(ctrlAlt | XCB_MOD_MASK_2));
    EXPECT_FALSE(shortcut->setKey(key).isEmpty());
    other.ungrab();
    ASSERT_TRUE(other.grab(XCB_MOD_MASK_ANY));
    other.ungrab();

    ASSERT_EQ(shortcut->setKey(key), QString());
    EXPECT_FALSE(other.grab(XCB_MOD_MASK_ANY));
    ASSERT_EQ(shortcut->setKey({}), QString());
    ASSERT_TRUE(other.grab(XCB_MOD_MASK_ANY));
    xdotool({"key", "ctrl+alt+space"});
    EXPECT_TRUE(other.receivesPress());
    other.ungrab();
    EXPECT_TRUE(spy.isEmpty());

    ASSERT_EQ(shortcut->setKey(key), QString());
    shortcut.reset();
    EXPECT_TRUE(other.grab(XCB_MOD_MASK_ANY));
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
