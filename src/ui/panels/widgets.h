#pragma once

#include <QColor>
#include <QFont>
#include <QLayout>
#include <QProxyStyle>
#include <QValidator>
#include <QWidget>
#include <vector>

class QLabel;

namespace pulsaro {

// The window's font at a size in points as the layout was drawn for it
// (96 dots per inch), so the fixed layout holds on any screen setting.
QFont windowFont(int points, bool bold = false);

// Whether the widget is switched on, regardless of its window being shown.
inline bool isShown(const QWidget* widget) {
    return !widget->isHidden();
}

// A label placed at a fixed spot; without a width it takes the width of its
// text in its font.
QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, QRect place,
                  int points = 8, bool bold = false, QColor color = QColor());

// Keeps each label of a panel at its place and as wide as its text, whatever
// the text becomes: a label grows from its aligned edge (both sides when
// centred) and is pushed back inside the panel when it would stick out.
// Other children of the panel are left where they are.
class FitToTextLayout final : public QLayout {
public:
    explicit FitToTextLayout(QWidget* panel);
    ~FitToTextLayout() override;

    // The panel's layout, made on first use.
    static FitToTextLayout& of(QWidget* panel);
    // place is where the label was drawn; its width is the least it gets.
    void place(QLabel* label, QRect designed);

    void addItem(QLayoutItem* item) override;
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    int count() const override;
    QSize sizeHint() const override;
    void setGeometry(const QRect& rect) override;

private:
    struct Placed {
        QLayoutItem* item;
        QRect designed;
    };
    std::vector<Placed> placed_;
};

// Black rounded rectangle behind the tempo value.
class ShapeWidget final : public QWidget {
public:
    explicit ShapeWidget(QWidget* parent) : QWidget(parent) {}

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The tempo box takes digits and decimal separators only, however they come:
// typed, pasted, dropped or from the X11 selection.
class TempoTextValidator final : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int& pos) const override;
};

// Highlights the menu bar's current title also while the bar holds the
// keyboard with no menu open (after Alt, or after ESC closed a menu), which
// the desktop's style leaves plain.
class MenuBarStyle final : public QProxyStyle {
public:
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override;
};

// The vertical picture strip at the window's left edge.
// The window's vertical picture strip, with the metronome's beat light at its
// top: dark while the metronome is off, dim while it is armed, bright for a
// moment as each click is heard.
class PictureStrip final : public QWidget {
public:
    enum class BeatLight { Off, Armed, Lit };

    explicit PictureStrip(QWidget* parent) : QWidget(parent) {}

    BeatLight beatLight() const { return beatLight_; }
    void setBeatLight(BeatLight light);
    // Where the light is drawn.
    static QRect beatLightRect();
    // The mark that shows while the program listens to the music.
    bool listening() const { return listening_; }
    void setListening(bool listening);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    BeatLight beatLight_ = BeatLight::Off;
    bool listening_ = false;
};

}  // namespace pulsaro
