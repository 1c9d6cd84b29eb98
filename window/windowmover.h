#pragma once

#include <QObject>
#include <QPoint>
#include <QTimer>

class QWidget;

// Moves a top-level window with the mouse while the left button is held: by the window system's
// own move where it offers one, otherwise by following the mouse itself. finished() comes once
// the button is up and the window lies where it was dropped.
class WindowMover : public QObject
{
    Q_OBJECT
public:
    explicit WindowMover(QWidget* window);
    Q_DISABLE_COPY_MOVE(WindowMover)

    // Starts a move for a left press at pressGlobal (screen pixels).
    void start(const QPoint& pressGlobal);

signals:
    void finished();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class Kind { None, System, Own };

    void finish();
    void pollButton();

    QWidget* m_window;
    Kind m_kind = Kind::None;
    bool m_moving = false;
    QPoint m_pressGlobal;
    QPoint m_startPos;
    QTimer m_poll;
};
