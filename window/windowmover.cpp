#include "windowmover.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

#if __has_include(<xcb/xcb.h>)
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>
#define HAVE_XCB 1
#endif

namespace {

// While the window system moves the window it holds the pointer, so the release may never reach
// the program. On X11 the button state can be asked for instead; elsewhere the first mouse event
// after the move tells.
constexpr int kPollMs = 15;
// The window system reports the final position just before the pointer is let go; give the
// program a moment to take it in.
constexpr int kSettleMs = 30;

enum class Button { Down, Up, Unknown };

Button leftButtonOnX11(QWidget* window)
{
#ifdef HAVE_XCB
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return Button::Unknown;
    xcb_connection_t* connection = x11->connection();
    const auto cookie = xcb_query_pointer(connection, xcb_window_t(window->winId()));
    xcb_query_pointer_reply_t* reply = xcb_query_pointer_reply(connection, cookie, nullptr);
    if (!reply)
        return Button::Unknown;
    const bool down = reply->mask & XCB_BUTTON_MASK_1;
    free(reply);
    return down ? Button::Down : Button::Up;
#else
    Q_UNUSED(window);
    return Button::Unknown;
#endif
}

} // namespace

WindowMover::WindowMover(QWidget* window) : QObject(window), m_window(window)
{
    m_poll.setInterval(kPollMs);
    connect(&m_poll, &QTimer::timeout, this, &WindowMover::pollButton);
}

void WindowMover::start(const QPoint& pressGlobal)
{
    if (m_moving)
        return;
    m_moving = true;
    m_pressGlobal = pressGlobal;
    m_startPos = m_window->pos();
    QWindow* handle = m_window->windowHandle();
    if (handle && handle->startSystemMove()) {
        m_kind = Kind::System;
        qApp->installEventFilter(this);
        if (leftButtonOnX11(m_window) != Button::Unknown)
            m_poll.start();
    } else {
        m_kind = Kind::Own;
        m_window->installEventFilter(this);
        m_window->grabMouse();
    }
}

void WindowMover::pollButton()
{
    if (leftButtonOnX11(m_window) == Button::Up)
        finish();
}

bool WindowMover::eventFilter(QObject* watched, QEvent* event)
{
    if (!m_moving)
        return false;
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseMove && type != QEvent::MouseButtonRelease)
        return false;
    const auto* mouse = static_cast<QMouseEvent*>(event);
    const bool leftUp = type == QEvent::MouseButtonRelease ? mouse->button() == Qt::LeftButton
                                                           : !(mouse->buttons() & Qt::LeftButton);

    if (m_kind == Kind::System) {
        if (leftUp)
            finish();
        return false;
    }
    if (watched != m_window)
        return false;
    if (type == QEvent::MouseMove && !leftUp)
        m_window->move(m_startPos + (mouse->globalPosition().toPoint() - m_pressGlobal));
    if (leftUp)
        finish();
    return true;
}

void WindowMover::finish()
{
    if (!m_moving)
        return;
    m_moving = false;
    m_poll.stop();
    if (m_kind == Kind::System) {
        qApp->removeEventFilter(this);
        QTimer::singleShot(kSettleMs, this, &WindowMover::finished);
    } else {
        m_window->removeEventFilter(this);
        m_window->releaseMouse();
        emit finished();
    }
}
