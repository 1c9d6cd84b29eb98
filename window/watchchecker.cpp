#include "watchchecker.h"

#include <algorithm>
#include <limits>

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QUrl>

#include "watching/schedule.h"
#include "watching/watchstore.h"

namespace {

constexpr int kCheckTimeoutMs = 30000;
constexpr qint64 kMaxAnswerBytes = 1024 * 1024;
constexpr int kTellAfterMs = 60000;

} // namespace

// The schedule's clock: the system's time and one single-shot timer.
class WatchChecker::Clock : public ScheduleClock
{
public:
    explicit Clock(std::function<void()> wake)
    {
        m_timer.setSingleShot(true);
        QObject::connect(&m_timer, &QTimer::timeout, std::move(wake));
    }

    QDateTime now() const override { return QDateTime::currentDateTimeUtc(); }

    void wakeAt(const QDateTime& when) override
    {
        if (!when.isValid()) {
            m_timer.stop();
            return;
        }
        // A wait longer than a timer takes ends early; the schedule then asks again.
        const qint64 wait
            = std::clamp<qint64>(now().msecsTo(when), 0, std::numeric_limits<int>::max() / 2);
        m_timer.start(int(wait));
    }

private:
    QTimer m_timer;
};

WatchChecker::WatchChecker(
    QNetworkAccessManager& network, QString rdapBase, const CheckPolicy& policy, QObject* parent)
    : QObject(parent)
    , m_network(network)
    , m_rdapBase(std::move(rdapBase))
    , m_policy(policy)
    , m_clock(std::make_unique<Clock>([this] { m_schedule->wake(); }))
    , m_schedule(std::make_unique<CheckSchedule>(
          *m_clock, policy, [this](const QString& name) { startCheck(name); }))
{
    m_tellLater.setSingleShot(true);
    connect(&m_tellLater, &QTimer::timeout, this, &WatchChecker::tellChanges);
}

WatchChecker::~WatchChecker()
{
    abandonCheck();
}

void WatchChecker::start(const QString& statePath, const QStringList& names)
{
    m_store = std::make_unique<WatchStore>(statePath);
    m_records = m_store->loadAll();
    const QSet<QString> listed(names.begin(), names.end());
    m_store->keepOnly(listed);
    for (auto record = m_records.begin(); record != m_records.end();)
        record = listed.contains(record.key()) ? std::next(record) : m_records.erase(record);
    for (const QString& name : names)
        watch(name);
}

void WatchChecker::watch(const QString& name)
{
    if (m_schedule->watches(name))
        return;
    const auto known = m_records.constFind(name);
    m_schedule->watch(name, known == m_records.cend() ? QDateTime() : known->due);
}

void WatchChecker::unwatch(const QString& name)
{
    m_schedule->unwatch(name);
    m_records.remove(name);
    m_changed.removeAll(name);
    try {
        m_store->remove(name);
    } catch (const WatchStoreError& error) {
        qWarning("%s", error.what());
    }
    emit recordChanged(name);
}

void WatchChecker::markSeen(const QString& name)
{
    const auto record = m_records.find(name);
    if (record == m_records.end() || !record->unseen)
        return;
    record->unseen = false;
    save(name);
    emit recordChanged(name);
}

void WatchChecker::hold()
{
    if (!m_schedule->hold().isEmpty())
        abandonCheck();
}

void WatchChecker::release()
{
    m_schedule->release();
}

const WatchRecord* WatchChecker::record(const QString& name) const
{
    const auto record = m_records.constFind(name);
    return record == m_records.cend() ? nullptr : &*record;
}

void WatchChecker::startCheck(const QString& name)
{
    // Another copy of the program, on the same state file, may have checked it just now.
    try {
        const std::optional<WatchRecord> stored = m_store->load(name);
        const WatchRecord* mine = record(name);
        if (stored && stored->checked.isValid()
            && (!mine || !mine->checked.isValid() || stored->checked > mine->checked)) {
            m_records.insert(name, *stored);
            emit recordChanged(name);
            if (stored->due > m_clock->now()) {
                m_schedule->skip(name, stored->due);
                return;
            }
        }
    } catch (const WatchStoreError& error) {
        qWarning("%s", error.what());
    }
    QNetworkRequest request(
        QUrl::fromEncoded(m_rdapBase.toUtf8() + QUrl::toPercentEncoding(name), QUrl::StrictMode));
    request.setRawHeader("Accept", "application/rdap+json, application/json");
    request.setTransferTimeout(kCheckTimeoutMs);
    m_reply = m_network.get(request);
    QNetworkReply* reply = m_reply;
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 got, qint64 total) {
        if (got > kMaxAnswerBytes || total > kMaxAnswerBytes)
            reply->abort();
    });
    connect(
        reply, &QNetworkReply::finished, this, [this, name, reply] { checkEnded(name, reply); });
}

void WatchChecker::checkEnded(const QString& name, QNetworkReply* reply)
{
    m_reply.clear();
    reply->deleteLater();
    const QDateTime now = m_clock->now();
    if (!m_schedule->watches(name)) { // deleted from the list meanwhile
        m_schedule->finished(name, {});
        return;
    }
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int code = status.isValid() ? status.toInt() : 0;
    const CheckAnswer answer = readCheckAnswer(code, code ? reply->readAll() : QByteArray(),
        reply->rawHeader("Cache-Control"), reply->rawHeader("Retry-After"), now);
    QList<Change> found;
    const WatchRecord& record = m_records[name]
        = applyAnswer(m_records.value(name), answer, now, m_policy, &found);
    save(name);
    emit recordChanged(name);
    m_schedule->finished(name, record.due,
        answer.kind == CheckAnswer::Kind::Failed ? answer.retryAfter : QDateTime());
    if (!found.isEmpty() && !m_changed.contains(name)) {
        m_changed << name;
        if (!m_tellLater.isActive())
            m_tellLater.start(kTellAfterMs);
    }
    if (!m_changed.isEmpty() && !m_schedule->anyDue())
        tellChanges();
}

void WatchChecker::abandonCheck()
{
    QNetworkReply* reply = m_reply;
    m_reply.clear();
    if (!reply)
        return;
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
}

void WatchChecker::save(const QString& name)
{
    try {
        m_store->save(name, m_records.value(name));
    } catch (const WatchStoreError& error) {
        qWarning("%s", error.what()); // kept in memory; the next check saves it again
    }
}

void WatchChecker::tellChanges()
{
    m_tellLater.stop();
    if (!m_changed.isEmpty())
        emit changesFound(std::exchange(m_changed, {}));
}
