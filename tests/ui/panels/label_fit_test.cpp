// Every text the window can show fits its label, and every label its panel.

#include <gtest/gtest.h>

#include <QFontDatabase>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QTest>
#include <functional>

#include "ui/common/dialogs.h"
#include "ui/common/qt_text.h"
#include "ui/common/string_resources.h"
#include "ui/fakes.h"
#include "ui/panels/widgets.h"
#include "ui/saving/result_saver.h"

namespace pulsaro::testing {
namespace {

int textWidth(const QFontMetrics& metrics, const QString& text) {
    return std::max(metrics.horizontalAdvance(text), metrics.boundingRect(text).right() + 1);
}

// Checks the visible labels of the window's visible panels: the text within
// its label, the label within its panel, and no two texts on top of each other.
void expectEverythingFits(MainWindow& form, const std::string& scene) {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    for (QWidget* parent : {child<QWidget>(form, "clientArea"),
                            static_cast<QWidget*>(child<QFrame>(form, "bpmPanel")),
                            static_cast<QWidget*>(child<QFrame>(form, "mpmPanel")),
                            static_cast<QWidget*>(child<QFrame>(form, "DelayPanel")),
                            static_cast<QWidget*>(child<QFrame>(form, "SaveToFilePanel"))}) {
        if (!parent->isVisible()) {
            continue;
        }
        std::vector<std::pair<const QLabel*, QRect>> drawn;
        for (const QLabel* label : parent->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
            if (!label->isVisible()) {
                continue;
            }
            const std::string what = scene + ": " + label->objectName().toStdString() + " \"" +
                                     label->text().toStdString() + "\"";
            const QFontMetrics metrics(label->font());
            const int width = textWidth(metrics, label->text());
            EXPECT_LE(width, label->contentsRect().width()) << what;
            EXPECT_TRUE(parent->contentsRect().contains(label->geometry())) << what;
            const QRect text =
                QStyle::alignedRect(Qt::LeftToRight, label->alignment(),
                                    QSize(width, metrics.height()), label->geometry());
            for (const auto& [other, otherText] : drawn) {
                EXPECT_FALSE(text.intersects(otherText))
                    << what << " runs into " << other->objectName().toStdString();
            }
            drawn.emplace_back(label, text);
        }
    }
    for (const QPushButton* button : form.findChildren<QPushButton*>()) {
        if (button->isVisible()) {
            const QString caption = QString(button->text()).remove(QLatin1Char('&'));
            EXPECT_LE(textWidth(QFontMetrics(button->font()), caption), button->width() - 2)
                << scene << ": " << button->objectName().toStdString();
        }
    }
}

// Presses at a steady interval, so the texts come from the real handlers.
void tapEvery(WindowRig& rig, double seconds, int presses) {
    for (int i = 0; i < presses; ++i) {
        rig.tapAt(rig.nowSeconds + (i == 0 ? 0 : seconds));
    }
}

void showMode(WindowRig& rig, int key, bool triplets) {
    rig.key(key);
    if (triplets) {
        QTest::mouseDClick(child<QFrame>(*rig.form, "DelayPanel"), Qt::LeftButton);
    }
}

TEST(LabelFit, TheLongestTextOfEveryLabelFits) {
    // A pause just under the timeout gives the slowest tempo (24.0010 BPM)
    // and the longest delay times; 0.239044 s the fastest counted one.
    constexpr double kSlowest = 2.4999;
    constexpr double kFastest = 0.239044;
    struct Mode {
        const char* name;
        int key;
        bool triplets;
    };
    const Mode modes[] = {{"BPM", Qt::Key_F5, false},
                          {"MPM", Qt::Key_F6, false},
                          {"delay", Qt::Key_F7, false},
                          {"delay triplets", Qt::Key_F7, true}};
    struct Scene {
        const char* what;
        std::function<void(WindowRig&)> make;
    };
    const Scene scenes[] = {
        {"idle", [](WindowRig&) {}},
        {"slowest tempo", [&](WindowRig& r) { tapEvery(r, kSlowest, 3); }},
        {"slowest tempo with 0.0001 steps", [&](WindowRig& r) { tapEvery(r, 2.499711, 4); }},
        {"fastest tempo", [&](WindowRig& r) { tapEvery(r, kFastest, 3); }},
        {"too fast, saving, timeout",
         [&](WindowRig& r) {
             tapEvery(r, 0.5, 3);
             r.tapAt(r.nowSeconds + 0.05);
             child<QLabel>(*r.form, "lblFastSaveActive")->setVisible(true);
             child<QLabel>(*r.form, "lblFastSaveActive2")->setVisible(true);
             r.idleFor(3);
         }},
        {"a long run", [&](WindowRig& r) { tapEvery(r, kSlowest, 1200); }},
    };
    for (const Mode& mode : modes) {
        for (const Scene& scene : scenes) {
            WindowRig rig;
            showMode(rig, mode.key, mode.triplets);
            child<QPushButton>(*rig.form, "cmdBeat")->setFocus();
            scene.make(rig);
            expectEverythingFits(*rig.form, std::string(mode.name) + ", " + scene.what);
        }
    }

    // The save panel with a long result-file path and the widest caption.
    WindowRig saving;
    tapEvery(saving, kFastest, 3);
    saving.form->parts().saver.setResultFile(QStringLiteral("/home/somebody/Music/Sets/") +
                                             QString(60, QLatin1Char('W')) +
                                             QStringLiteral("/beats (1234).csv"));
    saving.key(Qt::Key_F3);
    expectEverythingFits(*saving.form, "save panel");

    // Typed tempos at both ends, and the unknown table.
    for (const char* typed : {"50", "250", "50.01", "."}) {
        for (const bool triplets : {false, true}) {
            WindowRig rig;
            showMode(rig, Qt::Key_F7, triplets);
            rig.typeText(QString::fromLatin1(typed));
            expectEverythingFits(*rig.form, std::string("typed ") + typed);
        }
    }
}

// The window manager adds the program's name to every title and cuts a title
// wider than the box in the middle, so a box with a short text must still be
// as wide as its whole title in a bold face, with room for its buttons.
TEST(LabelFit, EveryMessageBoxIsWideEnoughForItsTitle) {
    QGuiApplication::setApplicationDisplayName(tr8(res::kAppTitle));
    for (const char* caption : {res::kErrorCaption, res::kAboutCaption, res::kWebPageCaption,
                                res::kSendMailCaption, res::kAppTitle, res::kOptionsCaption,
                                res::kRunPlayerCaptions[0], res::kRunPlayerCaptions[1]}) {
        QMessageBox box;
        prepareMessageBox(box, tr8(caption), QStringLiteral("OK."), Dialogs::Icon::Warning,
                          Dialogs::Buttons::Ok);
        QFont bold = box.font();
        bold.setBold(true);
        const QString title = fullWindowTitle(tr8(caption));
        EXPECT_TRUE(title.contains(QStringLiteral("Pulsaro")));
        EXPECT_GE(box.layout()->totalMinimumSize().width(),
                  QFontMetrics(bold).horizontalAdvance(title) + 100)
            << caption;
    }
}

// The bold texts (the tempo, the Beat button, the headings) come from a real
// bold face: Qt's own emboldening of the regular face is lost when the window
// is drawn scaled. They carry clearly more ink than the regular face, drawn
// unscaled and drawn at twice the size.
TEST(LabelFit, BoldTextsAreBoldAtEveryScale) {
    EXPECT_TRUE(QFontDatabase::styles(windowFont(8).family()).contains(QStringLiteral("Bold")))
        << QFontDatabase::styles(windowFont(8).family()).join(u',').toStdString();
    for (const int points : {8, 24}) {
        for (const qreal ratio : {1.0, 2.0}) {
            const auto ink = [&](bool bold) {
                const QSize size(30 * points, 3 * points);
                QImage image(size * ratio, QImage::Format_Grayscale8);
                image.setDevicePixelRatio(ratio);
                image.fill(Qt::white);
                QPainter painter(&image);
                painter.setFont(windowFont(points, bold));
                painter.drawText(QRect(QPoint(), size), Qt::AlignCenter,
                                 QStringLiteral("Beat 000"));
                painter.end();
                qint64 sum = 0;
                for (int y = 0; y < image.height(); ++y) {
                    for (const uchar* pixel = image.constScanLine(y);
                         pixel != image.constScanLine(y) + image.width(); ++pixel) {
                        sum += 255 - *pixel;
                    }
                }
                return sum;
            };
            EXPECT_GT(ink(true), ink(false) * 6 / 5) << points << " pt at " << ratio;
        }
    }
}

}  // namespace
}  // namespace pulsaro::testing
