// The browser engine of the banner strip, kept out of the program so that the window appears
// before the engine's libraries are loaded.
#include <QWebEngineView>

#include "webbrowser.h"

extern "C" Q_DECL_EXPORT QWidget* domainWhoisCreateBrowserView(QWidget* parent)
{
    auto* view = new QWebEngineView(parent);
    view->setObjectName(QStringLiteral("wb1View"));
    return view;
}
