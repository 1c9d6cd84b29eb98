#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QProcess>
#include <QVariantMap>

#include "watching/record.h"

// "registered;expires=2025-05-01;registrar=A;id=292;status=a,b": the facts a table row names.
// Keys: domain, registrar, id, registrant, email, created, expires, status, source. A date may be
// given in days from now: expires=+30.
WatchFacts factsFrom(const QString& text);

// A private D-Bus session bus of its own (dbus-daemon) with a desktop notification service on it
// that records what it is asked to show.
class TestNotifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    TestNotifications();
    ~TestNotifications() override;

    // The bus's address; empty when dbus-daemon could not be started.
    QString address() const { return m_address; }
    // The user clicks notification id.
    void click(uint id);

    struct Shown
    {
        QString summary, body;
        QStringList actions;
    };
    QList<Shown> shown;

public slots:
    uint Notify(const QString& app, uint replaces, const QString& icon, const QString& summary,
        const QString& body, const QStringList& actions, const QVariantMap& hints, int timeout);
    QStringList GetCapabilities();
    void CloseNotification(uint id);

private:
    QProcess m_daemon;
    QString m_address;
    QDBusConnection m_bus {QString()};
};
