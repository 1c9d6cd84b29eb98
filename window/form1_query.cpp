// The domain query of the main window: Query button, fetch and the six value labels.
#include "window/form1.h"

#include <QGuiApplication>

#include "whoispage/cut.h"
#include "whoispage/whois.h"
#include "window/watchchecker.h"

namespace {

// The busy pointer for as long as the window waits for the answer.
class BusyCursor
{
public:
    BusyCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QGuiApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

// The user's query goes first: no background check runs while it does.
class ChecksHeld
{
public:
    explicit ChecksHeld(WatchChecker* watcher) : m_watcher(watcher)
    {
        if (m_watcher)
            m_watcher->hold();
    }
    ~ChecksHeld()
    {
        if (m_watcher)
            m_watcher->release();
    }
    ChecksHeld(const ChecksHeld&) = delete;
    ChecksHeld& operator=(const ChecksHeld&) = delete;

private:
    WatchChecker* m_watcher;
};

} // namespace

QString Form1::fetchPage(const QString& url)
{
    QString page = decodeAnsi(fetchBody(network(), url, m_services.fetchLimits));
    return stripBlanks(page);
}

void Form1::queryDomain()
{
    // Read once: an input method may commit text into the box while the answer is awaited.
    const QString domain = domainBox->text();
    QString page;
    {
        const ChecksHeld held(m_watcher);
        const BusyCursor busy;
        page = fetchPage(m_services.sites.whoisBase + domain);
    }
    domainLabel->setText(domain);
    const WhoisFacts facts = readWhoisPage(page);
    registrarLabel->setText(facts.cop);
    registrantLabel->setText(facts.truename);
    emailLabel->setText(facts.mail);
    createdLabel->setText(facts.bdate);
    expiresLabel->setText(facts.edate);
}

void Form1::queryButtonClicked()
{
    queryDomain();
}
