#include "webbrowser.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QStringDecoder>

namespace {

// A banner is one line of HTML; anything much larger is not one.
constexpr qint64 kMaxPageBytes = 256 * 1024;
constexpr int kTimeoutMs = 10000;

} // namespace

WebBrowser::WebBrowser(QWidget* parent) : QTextBrowser(parent)
{
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::StrongFocus);
    setTabChangesFocus(true);
    setOpenLinks(false);
    document()->setDocumentMargin(2);
    setPlainText(neutralLine());
    connect(this, &QTextBrowser::anchorClicked, this, [this](const QUrl& link) {
        if (m_openLink)
            m_openLink(m_address.resolved(link));
    });
}

WebBrowser::~WebBrowser() = default;

QString WebBrowser::neutralLine()
{
    return QStringLiteral("欢迎使用域名查询");
}

void WebBrowser::Navigate(const QString& URL)
{
    m_address = QUrl(URL);
}

void WebBrowser::startLoading()
{
    if (m_address.isEmpty())
        return;
    if (!m_network)
        m_network = new QNetworkAccessManager(this);
    if (m_reply)
        m_reply->abort();
    QNetworkRequest request(m_address);
    request.setTransferTimeout(kTimeoutMs);
    m_reply = m_network->get(request);
    connect(m_reply, &QNetworkReply::downloadProgress, m_reply, [reply = m_reply](qint64 received) {
        if (received > kMaxPageBytes)
            reply->abort();
    });
    connect(m_reply, &QNetworkReply::finished, this, &WebBrowser::finished);
}

void WebBrowser::finished()
{
    QNetworkReply* reply = std::exchange(m_reply, nullptr);
    reply->deleteLater();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray body = reply->readAll();
    if (reply->error() != QNetworkReply::NoError || status != 200 || body.size() > kMaxPageBytes) {
        setPlainText(neutralLine());
        return;
    }
    // The page names its charset in a meta tag or a byte-order mark; UTF-8 otherwise.
    QStringDecoder decoder = QStringDecoder::decoderForHtml(body);
    if (!decoder.isValid())
        decoder = QStringDecoder(QStringDecoder::Utf8);
    setHtml(decoder.decode(body));
}
