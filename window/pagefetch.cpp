#include "pagefetch.h"

#include <memory>

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

namespace {

bool mayStandInTarget(unsigned char c)
{
    if (c <= 0x20 || c >= 0x7f)
        return false;
    switch (c) {
    case '"':
    case '#':
    case '<':
    case '>':
    case '\\':
    case '^':
    case '`':
    case '{':
    case '|':
    case '}':
        return false;
    default:
        return true;
    }
}

QByteArray requestTarget(const QString& url)
{
    static const char hex[] = "0123456789ABCDEF";
    const QByteArray utf8 = url.toUtf8();
    QByteArray target;
    target.reserve(utf8.size());
    for (const char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        if (mayStandInTarget(c)) {
            target += ch;
        } else {
            target += '%';
            target += hex[c >> 4];
            target += hex[c & 0xf];
        }
    }
    return target;
}

enum class Stop { None, ConnectTimeout, AnswerTimeout, TooLong };

QString reasonFor(const QNetworkReply& reply, Stop stop)
{
    QString reason;
    switch (reply.error()) {
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::ProxyNotFoundError:
        reason = QStringLiteral("找不到查询服务器");
        break;
    case QNetworkReply::ConnectionRefusedError:
        reason = QStringLiteral("无法连接查询服务器");
        break;
    case QNetworkReply::TimeoutError:
        reason = QStringLiteral("查询服务器没有按时应答");
        break;
    case QNetworkReply::ProtocolUnknownError:
    case QNetworkReply::ProtocolInvalidOperationError:
        reason = QStringLiteral("查询地址无效");
        break;
    default:
        reason = QStringLiteral("网络传输失败");
        break;
    }
    QString technical = reply.errorString();
    if (stop == Stop::ConnectTimeout || stop == Stop::AnswerTimeout) {
        reason = QStringLiteral("查询服务器没有按时应答");
        technical = stop == Stop::ConnectTimeout ? QStringLiteral("connection timed out")
                                                 : QStringLiteral("answer timed out");
    }
    return reason + QStringLiteral("（") + technical + QStringLiteral("）");
}

} // namespace

QByteArray fetchBody(QNetworkAccessManager& network, const QString& url, const FetchLimits& limits)
{
    const QUrl address = QUrl::fromEncoded(requestTarget(url), QUrl::StrictMode);
    if (!address.isValid() || (address.scheme() != u"http" && address.scheme() != u"https"))
        throw FetchError(QStringLiteral("查询地址无效（%1）").arg(url).toStdString());
    QNetworkRequest request(address);
    // The body as the server sent it: decoding is the page reader's business.
    request.setRawHeader("Accept-Encoding", "identity");
    request.setMaximumRedirectsAllowed(10);
    const std::unique_ptr<QNetworkReply> reply(network.get(request));

    Stop stop = Stop::None;
    QEventLoop loop;
    const auto abortFor = [&](Stop why) {
        if (stop == Stop::None)
            stop = why;
        reply->abort();
    };
    QTimer connecting, answering;
    connecting.setSingleShot(true);
    answering.setSingleShot(true);
    QObject::connect(&connecting, &QTimer::timeout, [&] { abortFor(Stop::ConnectTimeout); });
    QObject::connect(&answering, &QTimer::timeout, [&] { abortFor(Stop::AnswerTimeout); });
    QObject::connect(reply.get(), &QNetworkReply::requestSent, &connecting, &QTimer::stop);
    QObject::connect(reply.get(), &QNetworkReply::metaDataChanged, &connecting, &QTimer::stop);
    QObject::connect(
        reply.get(), &QNetworkReply::downloadProgress, [&](qint64 received, qint64 total) {
            if (received > limits.maxBodyBytes || total > limits.maxBodyBytes)
                abortFor(Stop::TooLong);
        });
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    connecting.start(limits.connectTimeout);
    answering.start(limits.answerTimeout);
    // Timers, network and painting go on; clicks and keys stay queued until the answer is in.
    if (!reply->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (!reply->isFinished())
        abortFor(Stop::AnswerTimeout); // the program is quitting

    if (stop == Stop::TooLong || reply->bytesAvailable() > limits.maxBodyBytes) {
        throw FetchError(QStringLiteral("查询结果超过 %1 MiB，已停止读取。")
                             .arg(limits.maxBodyBytes / (1024 * 1024))
                             .toStdString());
    }
    // An HTTP error status is an answer like any other; only no answer at all is a failure.
    const bool answered = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid()
        && stop == Stop::None;
    if (!answered || (reply->error() != QNetworkReply::NoError && reply->error() < 200))
        throw FetchError(reasonFor(*reply, stop).toStdString());
    return reply->readAll();
}
