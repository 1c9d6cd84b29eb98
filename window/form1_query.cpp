// The domain query of the main window: Query button, fetch and the six value labels.
#include "window/form1.h"

#include <QGuiApplication>

#include "whoispage/cut.h"
#include "whoispage/whois.h"

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
