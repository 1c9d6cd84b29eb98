#include "webbrowser.h"

#include <QLibrary>
#include <QUrl>

WebBrowser::WebBrowser(QWidget* parent) : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    // Blank, as a browser that has not loaded anything yet.
    QPalette blank = palette();
    blank.setColor(QPalette::Window, Qt::white);
    setPalette(blank);
    setAutoFillBackground(true);
}

void WebBrowser::Navigate(const QString& URL)
{
    m_address = URL;
    if (m_view)
        m_view->setProperty("url", QUrl(m_address));
}

namespace {

QtMessageHandler g_forward = nullptr;

// Loaded after the application object exists, the engine warns that it should have been set up
// before; here that is meant.
void quietLateEngine(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message.contains(QLatin1String("initialized from a plugin"))
        || message.contains(QLatin1String("AA_ShareOpenGLContexts must be set before")))
        return;
    g_forward(type, context, message);
}

} // namespace

void WebBrowser::startEngine()
{
    if (m_engineTried || m_modulePath.isEmpty())
        return;
    m_engineTried = true;
    g_forward = qInstallMessageHandler(quietLateEngine);
    QLibrary module(m_modulePath);
    const auto create
        = reinterpret_cast<CreateBrowserView>(module.resolve(kCreateBrowserViewSymbol));
    m_view = create ? create(this) : nullptr;
    qInstallMessageHandler(g_forward);
    if (!create)
        qWarning("banner strip stays blank: %s", qPrintable(module.errorString()));
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
