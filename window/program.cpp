#include "program.h"

#include <QApplication>

int runForm1(Form1Services services)
{
    const auto report = services.reportError;
    Form1 form(std::move(services));
    try {
        form.load();
    } catch (const std::exception& error) {
        report(nullptr, QStringLiteral("程序无法启动：\n") + QString::fromUtf8(error.what()));
        return 1;
    }
    form.show();
    form.domainBox->setFocus();
    return QApplication::exec();
}
