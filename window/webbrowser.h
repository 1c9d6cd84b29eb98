#pragma once

#include <QString>
#include <QWidget>

// The banner strip. The browser engine lives in a module of its own (it is large and slow to
// load), which startEngine() loads; until then, and for good when the module is missing, the
// strip stays blank. Navigate never waits: an address given before the engine is up is loaded
// as soon as it is.
class WebBrowser : public QWidget
{
    Q_OBJECT
public:
    explicit WebBrowser(QWidget* parent = nullptr);

    void Navigate(const QString& URL);

    // The module that holds the engine; empty for none.
    void setEngineModule(const QString& path) { m_modulePath = path; }
    // Loads the engine module once and creates the browser view in the strip.
    void startEngine();

signals:
    // The banner page has finished loading, ok telling whether it loaded.
    void loadFinished(bool ok);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QString m_modulePath;
    QString m_address;
    QWidget* m_view = nullptr;
    bool m_engineTried = false;
};

// The module's one entry point: creates the browser view as a child of parent.
using CreateBrowserView = QWidget* (*)(QWidget* parent);
inline constexpr const char* kCreateBrowserViewSymbol = "domainWhoisCreateBrowserView";
