#pragma once

#include <functional>

#include <QTextBrowser>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

// The banner strip: the page at an address, fetched in the background and shown with Qt's own
// rich-text view (Qt's HTML subset, no script). Links in it go to the opener handed in. A page
// that cannot be fetched leaves a short neutral line.
class BannerView : public QTextBrowser
{
    Q_OBJECT
public:
    explicit BannerView(QWidget* parent = nullptr);
    ~BannerView() override;
    Q_DISABLE_COPY_MOVE(BannerView)

    // Remembers the address and returns at once; the page is fetched by startLoading().
    void setAddress(const QString& url);
    // Fetches the address setAddress was given, if any; the window calls it after its first paint.
    void startLoading(QNetworkAccessManager& network);
    void setLinkOpener(std::function<void(const QUrl&)> open) { m_openLink = std::move(open); }

    // Shown while nothing has loaded, and for good when the page cannot be had.
    static QString neutralLine();

private:
    void finished();

    QUrl m_address;
    QNetworkReply* m_reply = nullptr;
    std::function<void(const QUrl&)> m_openLink;
};
