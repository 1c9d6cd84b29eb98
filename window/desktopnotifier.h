#pragma once

#include <QDBusConnection>
#include <QObject>

// Desktop notifications over D-Bus (org.freedesktop.Notifications). Where no notification service
// runs, notify() does nothing and says nothing.
class DesktopNotifier : public QObject
{
    Q_OBJECT
public:
    // busAddress: the D-Bus to use; empty: the session bus.
    explicit DesktopNotifier(const QString& busAddress, QObject* parent = nullptr);
    ~DesktopNotifier() override;
    Q_DISABLE_COPY_MOVE(DesktopNotifier)

    // Shows one notification, in place of the one shown before if that is still up. Returns at
    // once; the answer is not waited for.
    void notify(const QString& summary, const QString& body);

signals:
    // The user clicked the notification.
    void activated();

private slots:
    // QtDBus connects signals of the bus by signature only.
    void actionInvoked(uint id, const QString& action);
    void notificationClosed(uint id, uint reason);

private:
    QDBusConnection m_bus;
    uint m_shown = 0;
};
