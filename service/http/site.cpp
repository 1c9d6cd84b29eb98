#include "site.h"

#include <QFile>

namespace {

Reply html(int status, const QString& body, int maxAge)
{
    return {status, "text/html; charset=utf-8", body.toUtf8(), maxAge};
}

QString upTime(qint64 seconds)
{
    if (seconds >= 86400)
        return QStringLiteral("%1 天 %2 小时").arg(seconds / 86400).arg(seconds % 86400 / 3600);
    if (seconds >= 3600)
        return QStringLiteral("%1 小时 %2 分钟").arg(seconds / 3600).arg(seconds % 3600 / 60);
    return QStringLiteral("%1 分钟").arg(seconds / 60);
}

} // namespace

Reply bannerPage(const ServiceStatus& s)
{
    return html(200,
        QStringLiteral(
            "<html><head><meta charset=\"utf-8\"><title>域名查询服务</title></head>"
            "<body style=\"background-color:#eef2f6; color:#0f375d; font-size:12px\">"
            "<table width=\"100%\" cellpadding=\"4\"><tr>"
            "<td><b>域名查询服务运行正常</b>　已运行 %1　已查询 %2 次，其中 %3 次来自缓存</td>"
            "<td align=\"right\"><a href=\"/\" style=\"color:#c00000\">使用说明</a></td>"
            "</tr></table></body></html>")
            .arg(upTime(s.upSeconds))
            .arg(s.lookUps + s.fromCache)
            .arg(s.fromCache),
        60);
}

Reply homePage(const ServiceStatus& s)
{
    return html(200,
        QStringLiteral(
            "<!DOCTYPE html><html lang=\"zh-CN\"><head><meta charset=\"utf-8\">"
            "<title>域名查询</title><style>"
            "body{font-family:sans-serif;max-width:46em;margin:2em "
            "auto;color:#0f375d;line-height:1.6}"
            "h1{background:#365777;color:#fff;padding:.4em .6em}h1 span{color:#ff0}"
            "code{background:#eef2f6;padding:0 .2em}td{padding:0 1em 0 0}</style></head><body>"
            "<h1><span>域</span>名查询</h1><p><img src=\"/screenshot.png\" width=\"500\" "
            "height=\"393\" "
            "alt=\"查询一个域名之后的窗口\"></p>"
            "<p>域名查询是一个查看域名注册信息（whois）的桌面小工具，带一个自己的关注列表。"
            "在输入框中输入域名，按“查询”，窗口就显示注册商、注册人、邮箱、注册日期和到期日期；"
            "“关注”把域名记入右边的列表，点击列表中的域名再次查询，“删除”把它从列表中去掉。</p>"
            "<h2>查询服务</h2>"
            "<p>本服务替窗口向注册局查询：先按 IANA 找到域名后缀的 whois 服务器，"
            "再向注册局（必要时向注册商）查询，把结果整理成窗口能读的页面。"
            "输入可以是中文域名、带 www 的主机名或整个网址，服务会换算出要查询的域名。"
            "日期一律为北京时间（UTC+"
            "8）：注册局写明时区的换算为北京时间，没有写明时区的按原样显示，只有日期的显示为当天 "
            "00:00:00。注册人或邮箱不公开时，窗口显示“已保密”。</p>"
            "<p>接口：<code>GET /cgi-bin/whois?domain=example.com</code>，回答为 GBK "
            "编码的文本。</p>"
            "<h2>服务状态</h2><table>"
            "<tr><td>已运行</td><td>%1</td></tr>"
            "<tr><td>向注册局查询</td><td>%2 次</td></tr>"
            "<tr><td>由缓存回答</td><td>%3 次</td></tr>"
            "<tr><td>受限或无应答</td><td>%4 次</td></tr>"
            "<tr><td>缓存的域名</td><td>%5 个</td></tr>"
            "<tr><td>能读的注册局格式</td><td>%6</td></tr></table>"
            "</body></html>")
            .arg(upTime(s.upSeconds))
            .arg(s.lookUps)
            .arg(s.fromCache)
            .arg(s.failures)
            .arg(s.cached)
            .arg(s.formats.join(QStringLiteral("、")).toHtmlEscaped()),
        60);
}

Reply screenshot()
{
    QFile file(QStringLiteral(":/docs/query.png"));
    file.open(QIODevice::ReadOnly);
    return {200, "image/png", file.readAll(), 86400};
}

Reply notFoundPage()
{
    return html(404,
        QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>404</title>"
                       "</head><body><h1>找不到这个页面</h1><p><a href=\"/\">首页</a></p>"
                       "</body></html>"),
        3600);
}

Reply methodNotAllowedPage()
{
    return html(405,
        QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>405</title>"
                       "</head><body><h1>只接受 GET 请求</h1></body></html>"),
        0);
}
