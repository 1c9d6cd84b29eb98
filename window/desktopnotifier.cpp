#include "desktopnotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = kService;
const QString kAppId = QStringLiteral("net.domainwhois.DomainWhois");
const QString kPrivateBus = QStringLiteral("domain-whois-notifications");

QDBusConnection busAt(const QString& address)
{
    return address.isEmpty() ? QDBusConnection::sessionBus()
                             : QDBusConnection::connectToBus(address, kPrivateBus);
}

} // namespace

DesktopNotifier::DesktopNotifier(const QString& busAddress, QObject* parent)
    : QObject(parent), m_bus(busAt(busAddress))
{
    if (!m_bus.isConnected())
        return;
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
        SLOT(actionInvoked(uint, QString)));
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
        SLOT(notificationClosed(uint, uint)));
}

DesktopNotifier::~DesktopNotifier()
{
    // A bus named by address is this notifier's own; the next may be handed another address.
    if (m_bus.name() == kPrivateBus)
        QDBusConnection::disconnectFromBus(kPrivateBus);
}

void DesktopNotifier::notify(const QString& summary, const QString& body)
{
    if (!m_bus.isConnected())
        return;
    QDBusMessage call
        = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    // The body may be read as markup.
    call << QStringLiteral("域名查询") << m_shown << kAppId << summary << body.toHtmlEscaped()
         << QStringList {QStringLiteral("default"), QStringLiteral("查看")}
         << QVariantMap {{QStringLiteral("desktop-entry"), kAppId}} << qint32(-1);
    auto* answer = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(
        answer, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
            const QDBusPendingReply<uint> reply = *call;
            if (!reply.isError())
                m_shown = reply.value();
            call->deleteLater();
        });
}

void DesktopNotifier::actionInvoked(uint id, const QString&)
{
    if (id != 0 && id == m_shown)
        emit activated();
}

void DesktopNotifier::notificationClosed(uint id, uint)
{
    if (id == m_shown)
        m_shown = 0;
}
