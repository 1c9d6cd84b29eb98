#include "bannerview.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QStringDecoder>

namespace {

// A banner is one line of HTML; anything much larger is not one.
constexpr qint64 kMaxPageBytes = 256 * 1024;
constexpr int kTimeoutMs = 10000;

} // namespace

BannerView::BannerView(QWidget* parent) : QTextBrowser(parent)
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

BannerView::~BannerView() = default;

QString BannerView::neutralLine()
{
    return QStringLiteral("欢迎使用域名查询");
}

void BannerView::setAddress(const QString& url)
{
    m_address = QUrl(url);
}

void BannerView::startLoading(QNetworkAccessManager& network)
{
    if (m_address.isEmpty())
        return;
    if (m_reply)
        m_reply->abort();
    QNetworkRequest request(m_address);
    request.setTransferTimeout(kTimeoutMs);
    m_reply = network.get(request);
    connect(m_reply, &QNetworkReply::downloadProgress, m_reply, [reply = m_reply](qint64 received) {
        if (received > kMaxPageBytes)
            reply->abort();
    });
    connect(m_reply, &QNetworkReply::finished, this, &BannerView::finished);
}

void BannerView::finished()
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
