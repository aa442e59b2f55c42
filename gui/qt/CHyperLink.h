// CHyperLink: a label made a clickable link, the main window's release link (1023) and the
// download window's release-notes link (1024).
//
// The decisions come from controls/HyperLink.h: the text colour (normal, hover, visited), the
// hover tracking, the fit to the text and what a click opens. This class does the Qt side: it
// paints the text in the chosen colour (hover is the palette's highlight colour when the control
// is made), repaints at once when the pointer comes or goes, shows a pointing hand and a tooltip
// with the target, and on a failed open beeps and shows the reason with a warning icon. It takes
// the keyboard focus like a button: Space or Enter opens it.
//
// Like the Windows control it is set up when it is attached: the window that owns it creates it,
// gives it its place, then calls Attach(). SetTarget and DropUnderline before that only record
// the target and the underline; Attach applies them. The shell, the beep and the message box are
// replaceable, so tests click without starting a browser or blocking on a box.
#pragma once

#include "controls/HyperLink.h"

#include <QLabel>

#include <functional>
#include <memory>
#include <string>

namespace crenovix::qt {

class CHyperLink final : public QLabel {
    Q_OBJECT

public:
    explicit CHyperLink(const QString& text, QWidget* parent = nullptr);
    ~CHyperLink() override;

    // Takes the window text and the target from each other when one is empty, applies the
    // underline, fits the control to its text, sets the hand cursor and the tooltip.
    void Attach();
    bool IsAttached() const { return attached_; }

    // The target a click opens; once attached, also refits the control and renews the tooltip.
    // The text is not changed.
    void SetTarget(const std::string& url);
    // No underline from now on; once attached, the font changes and the control repaints.
    void DropUnderline();
    // Shrinks (or widens) the control to its text, keeping the left edge, the right edge
    // (Qt::AlignRight) or the centre (Qt::AlignHCenter), and the top or, with Qt::AlignVCenter,
    // the middle. Does nothing before Attach.
    void FitToText();
    // The rightmost x (in the parent) the control may reach: a fit that would end beyond it moves
    // the control left instead, so a text wider than its place stays inside the window's margin.
    void SetRightLimit(int x) { rightLimit_ = x; }

    // Opens the target as a click does (the mouse, Space, Enter and assistive tools' "press").
    void Click();

    const SHyperLinkState& State() const { return state_; }
    // The colour the text is drawn in now.
    QColor TextColour() const;

    // What a click opens with: the platform's shell, set by the window that holds the link. The
    // shell must outlive the control or be replaced again. Until one is set a click opens
    // nothing.
    void SetShell(IShell& shell) { shell_ = &shell; }
    // Replace these to observe a failed click without a sound or a modal box.
    std::function<void()> beepHandler;
    std::function<void(const std::string& text)> messageBoxHandler;

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    // The text, and the style's focus frame while the link has the focus.
    void paintEvent(QPaintEvent* event) override;

private:
    void PointerAt(bool inside);
    void ApplyColour();
    void ApplyUnderline();

    SHyperLinkState state_;
    IShell* shell_ = nullptr;
    bool attached_ = false;
    int rightLimit_ = -1; // none
};

} // namespace crenovix::qt
