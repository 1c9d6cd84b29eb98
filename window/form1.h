#pragma once

#include <chrono>
#include <exception>
#include <functional>

#include <QWidget>

#include "watching/record.h"
#include "window/controls.h"
#include "window/pagefetch.h"
#include "window/sites.h"

class DesktopNotifier;
class QNetworkAccessManager;
class WatchChecker;
class WindowMover;

// What the window needs from the world outside it. The defaults are the real program's; tests
// hand in loopback addresses, a temporary folder and recorders.
struct Form1Services
{
    Sites sites;
    // The directory domain.mdb lies in; asked afresh at every command.
    std::function<QString()> programDir = defaultProgramDir;
    // Opens an address in the external browser; false when no browser could be started.
    std::function<bool(const QString& url)> openBrowser = defaultOpenBrowser;
    // Tells the user about an error; the one place messages are shown from.
    std::function<void(QWidget* window, const QString& message)> reportError = defaultReportError;
    FetchLimits fetchLimits;
    // How long a watch-list command waits for another copy of the program to let go of the file.
    std::chrono::milliseconds watchListLockWait = std::chrono::seconds(5);
    // How often the watched names are checked through the service (sites.rdapBase).
    CheckPolicy watchPolicy;
    // The D-Bus that desktop notifications go to; empty: the session bus.
    QString notificationBus;

    static QString defaultProgramDir();
    static bool defaultOpenBrowser(const QString& url);
    static void defaultReportError(QWidget* window, const QString& message);
};

// The program's one window: its controls, its event handlers and the procedures they run.
class Form1 : public QWidget, public Controls
{
    Q_OBJECT
public:
    explicit Form1(Form1Services services = {}, QWidget* parent = nullptr);
    ~Form1() override;
    Q_DISABLE_COPY_MOVE(Form1)

    // Runs before the window is first shown: starts the banner page and fills the watch list.
    // Throws what fails; the caller reports it and ends the program.
    void load();

    // Checks the watched names in the background, from what the state file knew; the window
    // starts it after its first paint. Without a usable state file nothing is watched.
    void startWatching();
    // Shows the window in front, as a click on a notification does.
    void bringUp();

    // Opens url in a new window of the external browser.
    void openSite(const QString& url);
    // Fetches url and returns its page decoded from GBK and stripped of every blank. The window
    // paints while it waits; input made meanwhile is handled once the answer is in.
    QString fetchPage(const QString& url);

signals:
    // The window's first paint is done; the banner is fetched after it.
    void firstPainted();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void queryButtonClicked();
    void watchButtonClicked();
    void deleteButtonClicked();
    void watchListChosen();
    void closeLabelClicked();
    void siteLabelClicked();

    // One network stack for the banner and the whois fetch.
    QNetworkAccessManager& network();
    void queryDomain();
    void loadWatchList();
    // One notification for names whose checks found changes.
    void tellChanges(const QStringList& names);
    // Pulls the window back against an edge of the primary screen when a tenth or more of it lies
    // beyond that edge.
    void pullBackOntoScreen();

    // Connects a handler so that an error leaving it is reported and the program goes on.
    template <class Signal, class Sender>
    void handle(Sender* sender, Signal signal, void (Form1::*handler)());
    void reportError(const std::exception& error);

    Form1Services m_services;
    QPixmap m_picture;
    QNetworkAccessManager* m_network = nullptr;
    WindowMover* m_mover = nullptr;
    WatchChecker* m_watcher = nullptr;
    DesktopNotifier* m_notifier = nullptr;
    bool m_painted = false;
};
