#include "webbrowser.h"

#include <QLibrary>
#include <QUrl>

WebBrowser::WebBrowser(QWidget* parent) : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
}

void WebBrowser::Navigate(const QString& URL)
{
    m_address = URL;
    if (m_view)
        m_view->setProperty("url", QUrl(m_address));
}

void WebBrowser::startEngine()
{
    if (m_engineTried || m_modulePath.isEmpty())
        return;
    m_engineTried = true;
    QLibrary module(m_modulePath);
    const auto create
        = reinterpret_cast<CreateBrowserView>(module.resolve(kCreateBrowserViewSymbol));
    if (!create) {
        qWarning("banner strip stays blank: %s", qPrintable(module.errorString()));
        return;
    }
    m_view = create(this);
    if (!m_view)
        return;
    m_view->setGeometry(rect());
    setFocusProxy(m_view);
    connect(m_view, SIGNAL(loadFinished(bool)), this, SIGNAL(loadFinished(bool)));
    m_view->show();
    if (!m_address.isEmpty())
        m_view->setProperty("url", QUrl(m_address));
}

void WebBrowser::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (m_view)
        m_view->setGeometry(rect());
}
