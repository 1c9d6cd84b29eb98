// The browser engine of the banner strip, kept out of the program so that the window appears
// before the engine's libraries are loaded.
#include <type_traits>

#include <QWebEngineView>

#include "window/webbrowser.h"

namespace QtWebEngineCore {
// Sets up the OpenGL context the engine shares with its views. The engine arranges this itself
// before the application object exists when it is linked into a program; loaded later, as here,
// it has to be asked.
void initialize();
} // namespace QtWebEngineCore

extern "C" Q_DECL_EXPORT QWidget* domainWhoisCreateBrowserView(QWidget* parent)
{
    static const bool initialized = [] {
        QtWebEngineCore::initialize();
        return true;
    }();
    Q_UNUSED(initialized);
    auto* view = new QWebEngineView(parent);
    view->setObjectName(QStringLiteral("wb1View"));
    return view;
}

static_assert(std::is_same_v<decltype(&domainWhoisCreateBrowserView), CreateBrowserView>);
