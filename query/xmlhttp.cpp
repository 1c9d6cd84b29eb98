#include "xmlhttp.h"

#include <mutex>

#include <curl/curl.h>

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

QString reasonFor(CURLcode code, const char* detail)
{
    QString reason;
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        reason = QStringLiteral("找不到查询服务器");
        break;
    case CURLE_COULDNT_CONNECT:
        reason = QStringLiteral("无法连接查询服务器");
        break;
    case CURLE_OPERATION_TIMEDOUT:
        reason = QStringLiteral("查询服务器没有按时应答");
        break;
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
        reason = QStringLiteral("查询地址无效");
        break;
    default:
        reason = QStringLiteral("网络传输失败");
        break;
    }
    const QString technical
        = QString::fromUtf8(detail && *detail ? detail : curl_easy_strerror(code));
    return reason + QStringLiteral("（") + technical + QStringLiteral("）");
}

} // namespace

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

XmlHttpRequest::XmlHttpRequest(FetchLimits limits) : m_limits(limits)
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    m_curl = curl_easy_init();
    if (!m_curl)
        throw FetchError("无法创建网络请求。");
}

XmlHttpRequest::~XmlHttpRequest()
{
    curl_easy_cleanup(m_curl);
}

void XmlHttpRequest::Open(const QString& method, const QString& url, bool async)
{
    if (method.compare(QLatin1String("GET"), Qt::CaseInsensitive) != 0 || async)
        throw FetchError("只支持同步的 GET 请求。");
    m_target = requestTarget(url);
}

size_t XmlHttpRequest::collect(char* data, size_t size, size_t count, void* self)
{
    auto* request = static_cast<XmlHttpRequest*>(self);
    const size_t bytes = size * count;
    if (request->m_body.size() + qint64(bytes) > request->m_limits.maxBodyBytes) {
        request->m_overLimit = true;
        return 0; // makes curl abort the transfer
    }
    request->m_body.append(data, qsizetype(bytes));
    return bytes;
}

void XmlHttpRequest::send()
{
    if (m_target.isEmpty())
        throw FetchError("网络请求尚未打开。");
    CURL* curl = m_curl;
    char detail[CURL_ERROR_SIZE] = {};
    m_body.clear();
    m_overLimit = false;

    curl_easy_setopt(curl, CURLOPT_URL, m_target.constData());
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, long(m_limits.connectTimeout.count()));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, long(m_limits.answerTimeout.count()));
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(m_limits.maxBodyBytes));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &XmlHttpRequest::collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, detail);

    const CURLcode code = curl_easy_perform(curl);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
    if (m_overLimit || code == CURLE_FILESIZE_EXCEEDED) {
        m_body.clear();
        throw FetchError(QStringLiteral("查询结果超过 %1 MiB，已停止读取。")
                             .arg(m_limits.maxBodyBytes / (1024 * 1024))
                             .toStdString());
    }
    if (code != CURLE_OK) {
        m_body.clear();
        throw FetchError(reasonFor(code, detail).toStdString());
    }
}
