#include "program.h"

#include <unistd.h>

#include <QApplication>
#include <QLoggingCategory>

void prepareProcess()
{
    if (geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    // The engine describes its OpenGL set-up at every start, and passes on what the banner page
    // logs; users need read neither.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false\njs=false"));
}

int runForm1(Form1Services services)
{
    const auto report = services.reportError;
    Form1 form(std::move(services));
    try {
        form.Form_Load();
    } catch (const std::exception& error) {
        report(nullptr, QStringLiteral("程序无法启动：\n") + QString::fromUtf8(error.what()));
        return 1;
    }
    form.show();
    form.tb_url->setFocus();
    return QApplication::exec();
}
