// The domain query of the main window: Query button, fetch and the six value labels.
#include "window/form1.h"

#include <QGuiApplication>

#include "query/cut.h"
#include "query/whois.h"

namespace {

// The busy pointer for as long as the fetch blocks the window.
class BusyCursor
{
public:
    BusyCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QGuiApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

} // namespace

QString Form1::getdata(const QString& url)
{
    XmlHttpRequest xmlHttp(m_services.fetchLimits);
    xmlHttp.Open(QStringLiteral("GET"), url, false);
    xmlHttp.send();
    QString page = decodeAnsi(xmlHttp.responseBody());
    return StripBlanks(page);
}

void Form1::QueryDomain()
{
    QString page;
    {
        const BusyCursor busy;
        page = getdata(m_services.sites.whoisBase + tb_url->text());
    }
    lb_url->setText(tb_url->text());
    const WhoisFacts facts = readWhoisPage(page);
    lb_cop->setText(facts.cop);
    lb_truename->setText(facts.truename);
    lb_mail->setText(facts.mail);
    lb_bdate->setText(facts.bdate);
    lb_edate->setText(facts.edate);
}

void Form1::Command1_Click()
{
    QueryDomain();
}
