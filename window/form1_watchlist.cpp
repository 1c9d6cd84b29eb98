// The watch list of the main window: filling it at start, Watch, Delete and re-query, and watching
// its entries in the background.
#include "window/form1.h"

#include <QEventLoop>
#include <QTimer>

#include "watching/watchstore.h"
#include "watchlist/watchlist.h"
#include "window/desktopnotifier.h"
#include "window/watchchecker.h"

namespace {

// While another copy holds the file the window goes on painting; clicks and keys wait.
void paintingPause(std::chrono::milliseconds step)
{
    QEventLoop loop;
    QTimer::singleShot(step, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

WatchListFile watchListFile(const Form1Services& services)
{
    return WatchListFile(
        databasePath(services.programDir()), services.watchListLockWait, paintingPause);
}

} // namespace

void Form1::loadWatchList()
{
    for (const QString& url : watchListFile(m_services).load())
        watchList->append(url);
}

void Form1::watchButtonClicked()
{
    // The entry shows even when the file refuses the row; it is gone at the next start. The text
    // is read once, as the window paints (and an input method may commit) while the file is busy.
    const QString text = domainBox->text();
    watchList->append(text);
    watchListFile(m_services).add(text);
    if (m_watcher)
        m_watcher->watch(text);
}

void Form1::deleteButtonClicked()
{
    // With nothing selected there is nothing to delete (the empty text would match empty rows).
    const int row = watchList->selectedRow();
    if (row == -1)
        return;
    const QString text = watchList->entry(row);
    watchListFile(m_services).remove(text);
    // Only once the rows are gone: an entry whose rows stay must stay in the list as well.
    watchList->removeRow(row);
    // The same text listed twice shares one state, watched until its last entry goes.
    if (m_watcher && !watchList->entries().contains(text))
        m_watcher->unwatch(text);
}

void Form1::watchListChosen()
{
    const QString text = watchList->entry(watchList->selectedRow());
    if (m_watcher)
        m_watcher->markSeen(text);
    domainBox->setText(text);
    queryDomain();
}

void Form1::startWatching()
{
    if (m_watcher)
        return;
    auto* watcher
        = new WatchChecker(network(), m_services.sites.rdapBase, m_services.watchPolicy, this);
    try {
        watcher->start(watchStatePath(m_services.programDir()), watchList->entries());
    } catch (const WatchStoreError& error) {
        // The list goes on as a plain list, as it always was.
        qWarning("%s", error.what());
        delete watcher;
        return;
    }
    m_watcher = watcher;
    watchList->setRecords([watcher](const QString& text) { return watcher->record(text); });
    connect(watcher, &WatchChecker::recordChanged, watchList, &ListBox::recordChanged);
    connect(watcher, &WatchChecker::changesFound, this, &Form1::tellChanges);
    // Days left are counted to today: a new day shows within the hour.
    auto* hourly = new QTimer(watcher);
    connect(hourly, &QTimer::timeout, watchList->viewport(), qOverload<>(&QWidget::update));
    hourly->start(std::chrono::hours(1));
}

void Form1::tellChanges(const QStringList& names)
{
    if (!m_notifier) {
        m_notifier = new DesktopNotifier(m_services.notificationBus, this);
        connect(m_notifier, &DesktopNotifier::activated, this, &Form1::bringUp);
    }
    m_notifier->notify(QStringLiteral("%1 个关注的域名有变化").arg(names.size()),
        names.join(QStringLiteral("、")));
}

void Form1::bringUp()
{
    if (isMinimized())
        showNormal();
    show();
    raise();
    activateWindow();
}
