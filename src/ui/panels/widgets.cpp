#include "ui/panels/widgets.h"

#include "ui/common/qt_text.h"
#include "ui/common/string_resources.h"

#include <QFontMetrics>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QStyleOptionMenuItem>
#include <algorithm>

#include "platform/fonts.h"

namespace pulsaro {

QFont windowFont(int points, bool bold) {
    QFont font(loadWindowFontFamily());
    font.setPixelSize((points * 96 + 36) / 72);
    font.setBold(bold);
    // Full hinting snaps every glyph advance to whole pixels, which leaves
    // uneven gaps in emboldened text; vertical hinting keeps the strokes
    // crisp and the spacing even.
    font.setHintingPreference(QFont::PreferVerticalHinting);
    return font;
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, QRect place, int points,
                  bool bold, QColor color) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setFont(windowFont(points, bold));
    if (color.isValid()) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, color);
        label->setPalette(palette);
    }
    if (place.width() <= 0) {
        place.setWidth(1);
    }
    if (place.height() <= 0) {
        place.setHeight(QFontMetrics(label->font()).height());
    }
    label->setGeometry(place);
    FitToTextLayout::of(parent).place(label, place);
    // Labels keep their clicks; they never reach the panel behind them.
    label->setAttribute(Qt::WA_NoMousePropagation);
    return label;
}

FitToTextLayout::FitToTextLayout(QWidget* panel) : QLayout(panel) {
    setContentsMargins(0, 0, 0, 0);
    // The panel keeps the size it was given.
    setSizeConstraint(SetNoConstraint);
}

FitToTextLayout::~FitToTextLayout() {
    for (const Placed& entry : placed_) {
        delete entry.item;
    }
}

FitToTextLayout& FitToTextLayout::of(QWidget* panel) {
    if (auto* existing = dynamic_cast<FitToTextLayout*>(panel->layout())) {
        return *existing;
    }
    return *new FitToTextLayout(panel);
}

void FitToTextLayout::place(QLabel* label, QRect designed) {
    addChildWidget(label);
    placed_.push_back({new QWidgetItem(label), designed});
    invalidate();
}

void FitToTextLayout::addItem(QLayoutItem* item) {
    placed_.push_back({item, item->geometry()});
}

QLayoutItem* FitToTextLayout::itemAt(int index) const {
    return index >= 0 && index < count() ? placed_[static_cast<std::size_t>(index)].item : nullptr;
}

QLayoutItem* FitToTextLayout::takeAt(int index) {
    if (index < 0 || index >= count()) {
        return nullptr;
    }
    QLayoutItem* item = placed_[static_cast<std::size_t>(index)].item;
    placed_.erase(placed_.begin() + index);
    return item;
}

int FitToTextLayout::count() const {
    return static_cast<int>(placed_.size());
}

QSize FitToTextLayout::sizeHint() const {
    return parentWidget() != nullptr ? parentWidget()->size() : QSize();
}

void FitToTextLayout::setGeometry(const QRect& rect) {
    QLayout::setGeometry(rect);
    const QRect inside = parentWidget() != nullptr ? parentWidget()->contentsRect() : rect;
    for (const Placed& entry : placed_) {
        auto* label = qobject_cast<QLabel*>(entry.item->widget());
        if (label == nullptr) {
            continue;
        }
        const QFontMetrics metrics(label->font());
        const QString text = label->text();
        // Emboldened and overhanging glyphs may reach past the advance.
        const int textWidth =
            std::max(metrics.horizontalAdvance(text), metrics.boundingRect(text).right() + 1);
        const QMargins margins = label->contentsMargins();
        const int needed = textWidth + margins.left() + margins.right() + 2 * label->margin();
        const int width = std::min(std::max(entry.designed.width(), needed), inside.width());
        int left = entry.designed.left();
        const Qt::Alignment alignment = label->alignment();
        if (alignment.testFlag(Qt::AlignHCenter)) {
            left = entry.designed.left() + (entry.designed.width() - width) / 2;
        } else if (alignment.testFlag(Qt::AlignRight)) {
            left = entry.designed.right() + 1 - width;
        }
        left = std::clamp(left, inside.left(), inside.right() + 1 - width);
        label->setGeometry(left, entry.designed.top(), width, entry.designed.height());
    }
}

void ShapeWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::black);
    painter.setBrush(Qt::black);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
}

QValidator::State TempoTextValidator::validate(QString& input, int&) const {
    for (const QChar c : input) {
        const bool digit = c >= QLatin1Char('0') && c <= QLatin1Char('9');
        if (!digit && c != QLatin1Char('.') && c != QLatin1Char(',')) {
            return Invalid;
        }
    }
    return Acceptable;
}

void MenuBarStyle::drawControl(ControlElement element, const QStyleOption* option,
                               QPainter* painter, const QWidget* widget) const {
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    if (element == CE_MenuBarItem && item != nullptr && widget != nullptr && widget->hasFocus() &&
        item->state.testFlag(State_Selected)) {
        QStyleOptionMenuItem highlighted(*item);
        highlighted.state |= State_Sunken;
        QProxyStyle::drawControl(element, &highlighted, painter, widget);
        return;
    }
    QProxyStyle::drawControl(element, option, painter, widget);
}

void PictureStrip::setBeatLight(BeatLight light) {
    if (light != beatLight_) {
        beatLight_ = light;
        update(beatLightRect());
    }
}

QRect PictureStrip::beatLightRect() {
    return {12, 4, 11, 11};
}

void PictureStrip::setListening(bool listening) {
    if (listening != listening_) {
        listening_ = listening;
        update();
    }
}

void PictureStrip::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient background(0, 0, 0, height());
    background.setColorAt(0, QColor(0, 0, 128));
    background.setColorAt(1, QColor(0, 0, 40));
    painter.fillRect(rect(), background);

    // A row of beat pulses of rising height.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 215, 0));
    for (int i = 0; i < 4; ++i) {
        const int barHeight = 6 + 5 * i;
        painter.drawRoundedRect(QRectF(4 + 7 * i, 40 - barHeight, 5, barHeight), 1.5, 1.5);
    }

    // The beat light, above the pulses.
    static const QColor kLightColours[] = {QColor(40, 40, 90), QColor(120, 30, 30),
                                           QColor(255, 60, 40)};
    painter.setBrush(kLightColours[static_cast<int>(beatLight_)]);
    painter.setPen(QColor(150, 150, 190));
    painter.drawEllipse(QRectF(beatLightRect()).adjusted(0.5, 0.5, -0.5, -0.5));

    if (listening_) {
        // Below the pulses: a red badge while the music is listened to.
        const QRectF badge(3, 50, width() - 6, 13);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(200, 30, 30));
        painter.drawRoundedRect(badge, 3, 3);
        painter.setPen(QColor(255, 255, 255));
        painter.setFont(windowFont(6, true));
        painter.drawText(badge, Qt::AlignCenter, tr8(res::kListeningMark));
    }

    painter.setPen(QColor(255, 255, 0));
    painter.setFont(windowFont(14, true));
    painter.translate(width() / 2.0 + 6, height() - 8);
    painter.rotate(-90);
    painter.drawText(0, 0, QStringLiteral("PULSARO"));
}

}  // namespace pulsaro
