#include <QApplication>

#include "window/program.h"

int main(int argc, char* argv[])
{
    prepareProcess();
    QApplication app(argc, argv);
    return runForm1();
}
