#include "watchfixture.h"

#include <QDBusMessage>
#include <QStandardPaths>
#include <QTest>

namespace {

// A date, or days from now ("+30", "-10").
QDateTime dateFrom(const QString& text)
{
    if (text.startsWith(u'+') || text.startsWith(u'-'))
        return QDateTime::currentDateTimeUtc().addDays(text.toInt());
    return text.contains(u'T') ? QDateTime::fromString(text, Qt::ISODateWithMs)
                               : QDateTime(QDate::fromString(text, Qt::ISODate), {}, Qt::UTC);
}

const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

} // namespace

WatchFacts factsFrom(const QString& text)
{
    QStringList parts = text.split(u';');
    WatchFacts facts;
    const QString presence = parts.takeFirst();
    facts.presence = presence == u"free" ? Presence::Free
        : presence == u"reserved"        ? Presence::Reserved
                                         : Presence::Registered;
    for (const QString& part : parts) {
        const QString key = part.section(u'=', 0, 0), value = part.section(u'=', 1);
        QString* const texts[] = {&facts.domain, &facts.registrar, &facts.registrarId,
            &facts.registrant, &facts.email, &facts.source};
        const int at
            = QStringList {"domain", "registrar", "id", "registrant", "email", "source"}.indexOf(
                key);
        if (at >= 0)
            *texts[at] = QString(value).replace("\\n", "\n");
        else if (key == u"created")
            facts.created = dateFrom(value);
        else if (key == u"expires")
            facts.expires = dateFrom(value);
        else if (key == u"status")
            facts.status = value.split(u',');
    }
    return facts;
}

TestNotifications::TestNotifications()
{
    const QString daemon = QStandardPaths::findExecutable("dbus-daemon");
    if (daemon.isEmpty())
        return;
    m_daemon.start(daemon, {"--session", "--nofork", "--nopidfile", "--print-address=1"});
    QByteArray said;
    if (!QTest::qWaitFor(
            [&] { return (said += m_daemon.readAllStandardOutput()).contains('\n'); }, 10000))
        return;
    const QString address = QString::fromUtf8(said).trimmed();
    m_bus = QDBusConnection::connectToBus(address, QStringLiteral("test-notifications"));
    if (m_bus.registerService(QStringLiteral("org.freedesktop.Notifications"))
        && m_bus.registerObject(kPath, this, QDBusConnection::ExportAllSlots))
        m_address = address;
}

TestNotifications::~TestNotifications()
{
    QDBusConnection::disconnectFromBus(QStringLiteral("test-notifications"));
    m_daemon.terminate();
    m_daemon.waitForFinished(5000);
}

void TestNotifications::click(uint id)
{
    QDBusMessage signal = QDBusMessage::createSignal(
        kPath, QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("ActionInvoked"));
    signal << id << QStringLiteral("default");
    m_bus.send(signal);
}

uint TestNotifications::Notify(const QString&, uint replaces, const QString&,
    const QString& summary, const QString& body, const QStringList& actions, const QVariantMap&,
    int)
{
    shown.append({summary, body, actions});
    return replaces != 0 ? replaces : uint(shown.size());
}

QStringList TestNotifications::GetCapabilities()
{
    return {QStringLiteral("actions"), QStringLiteral("body")};
}

void TestNotifications::CloseNotification(uint)
{ }
