// The watch list of the main window: filling it at start, Watch, Delete and re-query.
#include "window/form1.h"

#include <QEventLoop>
#include <QTimer>

#include "watchlist/watchlist.h"

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
}

void Form1::deleteButtonClicked()
{
    // With nothing selected there is nothing to delete (the empty text would match empty rows).
    const int row = watchList->selectedRow();
    if (row == -1)
        return;
    watchListFile(m_services).remove(watchList->entry(row));
    // Only once the rows are gone: an entry whose rows stay must stay in the list as well.
    watchList->removeRow(row);
}

void Form1::watchListChosen()
{
    domainBox->setText(watchList->entry(watchList->selectedRow()));
    queryDomain();
}
