#include "gui/qt/CHyperLink.h"

#include "app/StartUp.h"
#include "gui/qt/TemplateWidgets.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QEnterEvent>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QStyleOptionFocusRect>
#include <QStylePainter>

#include <algorithm>

namespace crenovix::qt {

namespace {

QColor ToQColor(ColorRef colour) {
    return QColor(static_cast<int>(colour & 0xFFu), static_cast<int>((colour >> 8) & 0xFFu),
                  static_cast<int>((colour >> 16) & 0xFFu));
}

ColorRef ToColorRef(const QColor& colour) {
    return Rgb(static_cast<std::uint8_t>(colour.red()), static_cast<std::uint8_t>(colour.green()),
               static_cast<std::uint8_t>(colour.blue()));
}

// The label's alignment as the style bits of the fit rules.
std::uint32_t FitStyle(Qt::Alignment alignment) {
    std::uint32_t style = 0;
    if (alignment & Qt::AlignHCenter) {
        style |= kSsCenter;
    } else if (alignment & Qt::AlignRight) {
        style |= kSsRight;
    }
    if (alignment & Qt::AlignVCenter) {
        style |= kSsCenterImage;
    }
    return style;
}

// What assistive tools see of the control: a link named by its text, pressed as a click.
class CAccessibleLink final : public QAccessibleWidget {
public:
    explicit CAccessibleLink(CHyperLink* link) : QAccessibleWidget(link, QAccessible::Link) {}

    QString text(QAccessible::Text kind) const override {
        QString text = QAccessibleWidget::text(kind);
        if (kind == QAccessible::Name && text.isEmpty()) {
            text = Link()->text();
        }
        return text;
    }
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& name) override {
        if (name == pressAction()) {
            Link()->Click();
        }
    }

private:
    CHyperLink* Link() const { return static_cast<CHyperLink*>(widget()); }
};

QAccessibleInterface* AccessibleLinkFactory(const QString&, QObject* object) {
    if (auto* link = qobject_cast<CHyperLink*>(object)) {
        return new CAccessibleLink(link);
    }
    return nullptr;
}

} // namespace

CHyperLink::CHyperLink(const QString& text, QWidget* parent) : QLabel(text, parent) {
    // Catalogue texts are shown as they are, never as markup.
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignLeft | Qt::AlignTop); // a static control's default
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(AccessibleLinkFactory);
        return true;
    }();
    (void)factoryInstalled;
    // While assistive tools listen, the label's constructor already made a plain label's
    // interface for this control; drop it so that the next query makes the link's.
    if (QAccessibleInterface* made = QAccessible::queryAccessibleInterface(this);
        made != nullptr && made->role() != QAccessible::Link) {
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
    }
    state_.crHover = ToColorRef(palette().color(QPalette::Active, QPalette::Highlight));
    ApplyColour();
}

CHyperLink::~CHyperLink() = default;

void CHyperLink::Attach() {
    std::string windowText = text().toStdString();
    AttachLinkText(state_, windowText);
    setText(QString::fromStdString(windowText));
    attached_ = true;
    ApplyUnderline();
    FitToText();
    setCursor(Qt::PointingHandCursor);
    setToolTip(PlainToolTip(QString::fromStdString(state_.strTarget)));
}

void CHyperLink::SetTarget(const std::string& url) {
    state_.strTarget = url;
    if (attached_) {
        FitToText();
        setToolTip(PlainToolTip(QString::fromStdString(url)));
    }
}

void CHyperLink::DropUnderline() {
    state_.bUnderlined = false;
    if (attached_) {
        ApplyUnderline();
        update();
    }
}

void CHyperLink::ApplyUnderline() {
    QFont linkFont = font();
    linkFont.setUnderline(state_.bUnderlined);
    setFont(linkFont);
}

void CHyperLink::FitToText() {
    if (!attached_ || !state_.bFitToText) {
        return;
    }
    const QRect place = geometry();
    const QFontMetrics metrics(font());
    const SRect fitted = crenovix::FitToText(
        {place.left(), place.top(), place.left() + place.width(), place.top() + place.height()},
        {metrics.horizontalAdvance(text()), metrics.height()}, FitStyle(alignment()));
    const int shift = rightLimit_ >= 0 ? std::max(0, fitted.right - rightLimit_) : 0;
    setGeometry(std::max(0, fitted.left - shift), fitted.top, fitted.right - fitted.left,
                fitted.bottom - fitted.top);
}

QColor CHyperLink::TextColour() const {
    return ToQColor(LinkTextColour(state_));
}

void CHyperLink::ApplyColour() {
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, TextColour());
    setPalette(colours);
}

void CHyperLink::PointerAt(bool inside) {
    // Without a mouse capture, movements outside arrive only while a button is held after a
    // press on the link; those are not the pointer arriving.
    if (!state_.bPointerInside && !inside) {
        return;
    }
    if (TrackPointer(state_, inside) != EPointerChange::None) {
        ApplyColour();
        repaint();
    }
}

void CHyperLink::enterEvent(QEnterEvent* event) {
    QLabel::enterEvent(event);
    PointerAt(true);
}

void CHyperLink::leaveEvent(QEvent* event) {
    QLabel::leaveEvent(event);
    PointerAt(false);
}

void CHyperLink::mouseMoveEvent(QMouseEvent* event) {
    QLabel::mouseMoveEvent(event);
    PointerAt(rect().contains(event->position().toPoint()));
}

void CHyperLink::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        Click();
    }
}

void CHyperLink::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) {
        Click();
        return;
    }
    QLabel::keyPressEvent(event);
}

void CHyperLink::paintEvent(QPaintEvent* event) {
    QLabel::paintEvent(event);
    if (!hasFocus()) {
        return;
    }
    QStylePainter painter(this);
    QStyleOptionFocusRect option;
    option.initFrom(this);
    option.state |= QStyle::State_KeyboardFocusChange; // some styles draw it only after a key
    option.backgroundColor = palette().color(QPalette::Window);
    painter.drawPrimitive(QStyle::PE_FrameFocusRect, option);
}

void CHyperLink::Click() {
    if (shell_ == nullptr) {
        return;
    }
    const std::int32_t code = ClickLink(state_, *shell_);
    ApplyColour();
    if (state_.bOpened) {
        update();
        return;
    }
    if (beepHandler) {
        beepHandler();
    } else {
        QApplication::beep();
    }
    const std::string text = LinkErrorText(code, state_.strTarget);
    if (messageBoxHandler) {
        messageBoxHandler(text);
        return;
    }
    QMessageBox box(QMessageBox::Warning, kProductName, QString::fromStdString(text),
                    QMessageBox::Ok, window());
    box.setTextFormat(Qt::PlainText); // the address comes from a server
    // The address in it can be copied into a browser by hand.
    box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    box.exec();
}

} // namespace crenovix::qt
